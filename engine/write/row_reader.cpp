#include "engine/write/row_reader.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/write/little_endian.h"
#include "engine/write/long_value_writer.h"
#include "engine/write/object_ids.h"
#include "engine/write/order_conversion.h"
#include "engine/write/rewrite_options.h"
#include "engine/write/rewrite_source.h"
#include "engine/write/row_keys.h"

namespace jet::write {

RowReader::RowReader(RewriteContext& ctx, const TablePlan& plan, const RowTable& rows, std::vector<IndexCopy>& indexes,
                     bool copy_long_values)
    : ctx_(ctx), plan_(plan), rows_(rows), indexes_(indexes), copy_long_values_(copy_long_values) {
  const TableDef& t = plan.def;
  std::vector<const IndexData*> keyed;
  for (const IndexData& d : t.index_data) keyed.push_back(&d);
  for (const Column& c : t.columns) {
    if (c.is_autonumber() && c.type == ColumnType::Long) autonumber_ = &c;
  }
  wanted_ = columns_keyed(t, keyed, autonumber_);
  decode_ = !indexes.empty() || autonumber_ != nullptr;
  for (std::size_t k = 0; k < t.columns.size(); ++k) {
    if (wanted_[k] && is_long_value(t.columns[k].type)) key_as_read_ = true;
  }
}

bool RowReader::fill(RowBatch& batch) {
  batch.clear();
  const TableDef& t = plan_.def;
  while (next_ < rows_.order.size() && !batch.full()) {
    const std::uint32_t position = rows_.order[next_++];
    Bytes& raw = raw_;
    if (!ctx_.db.read_row_into(rows_.old_at[position], raw) || raw.size() != rows_.size[position]) {
      throw Error(errc::kCannotOpenDatabase, "Damaged table " + t.name + ": a row changed while it was copied.");
    }
    patch_object_ids(ctx_.jet_format, t, plan_.id_columns, ctx_.plan.table_ids(), raw);
    convert_row_text(ctx_.jet_format, t, plan_.text_conversions, raw, text_fields_);
    RowBatch::Row row;
    row.position = position;
    row.first_long_value = batch.long_values.size();
    if (copy_long_values_) {
      // Rewriting a long-value reference keeps its place and size in the
      // row, so the split serves the keys as well.
      split_row_into(ctx_.jet_format, t, raw, fields_);
      collect_long_values(raw, fields_, batch);
    }
    row.long_values = batch.long_values.size() - row.first_long_value;
    row.begin = batch.bytes.size();
    row.size = raw.size();
    batch.bytes.insert(batch.bytes.end(), raw.begin(), raw.end());
    batch.rows.push_back(row);
    if (key_as_read_) {
      if (!copy_long_values_) split_row_into(ctx_.jet_format, t, raw, fields_);
      key_row(batch, batch.rows.back(), fields_, &ctx_.db);
    }
  }
  batch.keyed = key_as_read_;
  return !batch.rows.empty();
}

void RowReader::key(RowBatch& batch) {
  if (batch.keyed) return;
  batch.keyed = true;
  for (RowBatch::Row& row : batch.rows) {
    const std::span<const std::uint8_t> raw(batch.bytes.data() + row.begin, row.size);
    if (decode_) split_row_into(ctx_.jet_format, plan_.def, raw, key_fields_);
    key_row(batch, row, key_fields_, nullptr);
  }
}

void RowReader::key_row(RowBatch& batch, RowBatch::Row& row, const std::vector<RawField>& fields,
                        RewriteSource* source) {
  if (decode_) decode_fields(ctx_.jet_format, ctx_.db.header().code_page, source, plan_.def, fields, wanted_, values_);
  position_ = row.position;
  row.first_key = batch.keys.size();
  for (IndexCopy& index : indexes_) batch.keys.push_back(key_of(index, batch));
  if (autonumber_) {
    const Value& v = values_[column_position(plan_.def, *autonumber_)];
    if (!v.is_null) largest_ = std::max(largest_, v.integer);
  }
}

// Notes the long values a row refers to, read from the source, for
// LongValueCopy::write(); `fields` is the row split. Empty values become
// inline ones right away.
void RowReader::collect_long_values(Bytes& raw, const std::vector<RawField>& fields, RowBatch& batch) {
  const TableDef& t = plan_.def;
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const Column& c = t.columns[i];
    if (!is_long_value(c.type) || fields[i].null || fields[i].bytes.empty()) continue;
    if (fields[i].bytes.size() < kLongValueHeaderSize) {
      throw Error(errc::kCannotOpenDatabase, "Damaged long value in " + t.name + ".");
    }
    const std::size_t at = offset_in(raw, fields[i]);
    const std::uint32_t head = get_u32(raw, at);
    if (head & kLongValueFlagInline) continue;  // kept in the row as it is
    const std::uint32_t length = head & kLongValueLengthMask;
    if (length == 0) {
      put_u32(raw, at, kLongValueFlagInline);
      put_u32(raw, at + 4, 0);
      put_u32(raw, at + 8, 0);
      continue;
    }
    Bytes value = ctx_.db.read_long_value(fields[i].bytes);
    if (value.size() != length) throw Error(errc::kCannotOpenDatabase, "Damaged long value in " + t.name + ".");
    if (!plan_.text_conversions.empty() && plan_.text_conversions[i] != nullptr) {
      plan_.text_conversions[i]->convert(value);
    }
    const auto& mapped = plan_.layout.column_map_columns;
    const bool own = std::find(mapped.begin(), mapped.end(), c.number) != mapped.end();
    batch.long_value_bytes += value.size();
    batch.long_values.push_back(RowBatch::LongValue{at, own ? c.number : -1, std::move(value)});
  }
}

// Whether the stored key can be this row's: it starts as ours does. A row
// our encoder cannot key keeps its stored key.
bool RowReader::stored_key_is_the_rows(IndexCopy& index) {
  try {
    if (!index.keys->key_into(values_, row_key_)) return false;
  } catch (const Error& e) {
    if (e.number() != errc::kNotBuiltYet) throw;
    return true;
  }
  return row_key_.empty() || row_key_[0] == index.stored_lead[position_];
}

// Forms the row's key for one index into the batch; gives the index up (its
// stored entries are carried over) when the encoder cannot key some value.
RowBatch::Key RowReader::key_of(IndexCopy& index, RowBatch& batch) {
  RowBatch::Key key;
  const bool listed_at_all = !(index.data->ignores_nulls() && all_null(plan_.def, *index.data, values_));
  if (listed_at_all) ++index.listed;
  if (!index.keys) return key;
  if (!index.stored.empty() && index.stored[position_] == 1) {
    // The stored key goes in after the rows, unless the index should not
    // list the row or the key is not the row's.
    if (listed_at_all && stored_key_is_the_rows(index)) return key;
    index.stored[position_] = 0;
  }
  bool listed = false;
  if (!key_or_give_up(*index.keys, values_, row_key_, listed, index.reason)) {
    if (ctx_.options.stored_keys_where_unformed) {
      // The stored key stands in once the rows are written and it is proven.
      index.unformed.push_back(position_);
      index.unformed_reason = index.reason;
      return key;
    }
    index.keys.reset();
    key.state = RowBatch::KeyState::kGaveUp;
  } else if (listed) {
    key.state = RowBatch::KeyState::kKey;
    key.begin = batch.key_bytes.size();
    key.size = static_cast<std::uint32_t>(row_key_.size());
    batch.key_bytes.insert(batch.key_bytes.end(), row_key_.begin(), row_key_.end());
  }
  return key;
}

}  // namespace jet::write

#include "engine/write/row_keys.h"

#include "engine/error.h"
#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_source.h"

namespace jet::write {

namespace {

const IndexData* find_index_data(const TableDef& t, std::uint32_t number) {
  for (const IndexData& d : t.index_data) {
    if (d.number == number) return &d;
  }
  throw Error(errc::kCannotOpenDatabase, "Damaged table definition of " + t.name + ": an index names a missing index.");
}

}  // namespace

std::optional<IndexKeys> keys_for(const WriteFormat& format, const TableDef& t, const IndexData& data,
                                  std::string& reason, const index::LearnedOrders* learned) {
  try {
    return IndexKeys(format, t, data, learned);
  } catch (const Error& e) {
    if (e.number() != errc::kNotBuiltYet) throw;
    reason = e.description();
    return std::nullopt;
  }
}

bool key_or_give_up(const IndexKeys& keys, const Row& values, Bytes& key, bool& listed, std::string& reason) {
  try {
    listed = keys.key_into(values, key);
    return true;
  } catch (const Error& e) {
    if (e.number() != errc::kNotBuiltYet) throw;
    reason = e.description();
    return false;
  }
}

const IndexData* primary_key_of(const TableDef& t) {
  for (const Index& index : t.indexes) {
    if (index.is_primary_key()) return find_index_data(t, index.index_data);
  }
  return nullptr;
}

std::vector<bool> columns_keyed(const TableDef& t, const std::vector<const IndexData*>& indexes,
                                const Column* autonumber) {
  std::vector<bool> wanted(t.columns.size(), false);
  for (std::size_t k = 0; k < t.columns.size(); ++k) {
    for (const IndexData* data : indexes) {
      for (const IndexColumn& c : data->columns) {
        if (t.columns[k].number == c.column_number) wanted[k] = true;
      }
    }
    if (autonumber == &t.columns[k]) wanted[k] = true;
  }
  return wanted;
}

void decode_fields(const JetFormat& format, std::uint16_t code_page, RewriteSource* source, const TableDef& t,
                   const std::vector<RawField>& fields, const std::vector<bool>& wanted, Row& values) {
  values.resize(t.columns.size());
  for (std::size_t k = 0; k < t.columns.size(); ++k) {
    if (!wanted[k]) continue;
    values[k] = decode_field(format, t.columns[k], fields[k], code_page, [source](std::span<const std::uint8_t> f) {
      if (source == nullptr) internal_error("a key needed a long value after its row was read");
      return source->read_long_value(f);
    });
  }
}

bool all_null(const TableDef& t, const IndexData& data, const Row& values) {
  for (const IndexColumn& c : data.columns) {
    for (std::size_t k = 0; k < t.columns.size(); ++k) {
      if (t.columns[k].number == c.column_number && k < values.size() && !values[k].is_null) return false;
    }
  }
  return true;
}

bool has_text_key(const TableDef& t, const IndexData& data) {
  for (const IndexColumn& c : data.columns) {
    for (const Column& col : t.columns) {
      if (col.number == c.column_number && (col.type == ColumnType::Text || col.type == ColumnType::Memo)) return true;
    }
  }
  return false;
}

std::string index_name(const TableDef& t, const IndexData& data) {
  std::string names;
  for (const Index& index : t.indexes) {
    if (index.index_data != data.number) continue;
    names += (names.empty() ? "'" : ", '") + index.name + "'";
  }
  return names.empty() ? std::to_string(data.number) : names;
}

}  // namespace jet::write

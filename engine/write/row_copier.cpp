#include "engine/write/row_copier.h"

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "engine/write/batch_pipeline.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/index_copy.h"
#include "engine/write/index_layout.h"
#include "engine/write/key_pipeline.h"
#include "engine/write/little_endian.h"
#include "engine/write/long_value_copy.h"
#include "engine/write/page_sink.h"
#include "engine/write/rewrite_options.h"
#include "engine/write/row_keys.h"
#include "engine/write/row_reader.h"
#include "engine/write/stored_index_entries.h"

namespace jet::write {

namespace {

// Room each index's key list takes up front: all rows, unless that would
// take more than half the list's share (the key bytes need the rest).
std::size_t entries_to_reserve(const KeyPipeline& keys, std::size_t rows, std::size_t index_count) {
  return std::min(rows, keys.limit(index_count + kListsInFlight) / 64);
}

}  // namespace

void copy_rows(RewriteContext& ctx, TablePlan& plan, const RowTable& rows, const std::function<void()>& source_done) {
  const TableDef& t = plan.def;
  if (t.index_data.size() != plan.layout.real_index_count) internal_error("index count differs from the definition");

  std::vector<std::uint32_t> data_pages;
  for (std::uint32_t i = 0, n = count_data_pages(ctx.format, rows); i < n; ++i) data_pages.push_back(ctx.plan.allocate());

  std::vector<IndexCopy> indexes(t.index_data.size());
  for (std::size_t i = 0; i < t.index_data.size(); ++i) {
    indexes[i].data = &t.index_data[i];
    indexes[i].keys = keys_for(ctx.format, t, t.index_data[i], indexes[i].reason, learned_orders(ctx.options));
    if (indexes[i].keys) {
      indexes[i].entries.reserve(entries_to_reserve(ctx.index_keys, rows.order.size(), t.index_data.size()));
    }
    if (indexes[i].keys && ctx.options.keep_stored_text_keys && !ctx.options.convert_to_general &&
        has_text_key(t, t.index_data[i])) {
      indexes[i].stored = rows_with_stored_keys(ctx.db, ctx.format, t, t.index_data[i], rows, indexes[i].stored_lead);
    }
  }

  LongValueCopy long_values(ctx, plan);
  RowReader reader(ctx, plan, rows, indexes, long_values.needed());
  std::optional<DataPageBuilder> page;
  std::size_t page_index = 0;
  const std::size_t lists = indexes.size() + kListsInFlight;
  const auto take = [&](RowBatch& batch) {
    reader.key(batch);
    for (const RowBatch::Row& r : batch.rows) {
      const std::span<std::uint8_t> raw(batch.bytes.data() + r.begin, r.size);
      for (std::size_t k = r.first_long_value; k < r.first_long_value + r.long_values; ++k) {
        long_values.write(raw, batch.long_values[k]);
      }
      if (!page || !page->fits(raw.size())) {
        if (page) ctx.sink.write(data_pages.at(page_index++), page->page());
        if (page_index >= data_pages.size()) internal_error("rows need more pages than counted");
        page.emplace(ctx.format, plan.id);
      }
      const RowPointer at{data_pages[page_index], page->add(raw)};
      for (std::size_t i = 0; i < indexes.size(); ++i) {
        const RowBatch::Key& key = batch.keys[r.first_key + i];
        if (key.state == RowBatch::KeyState::kGaveUp) {
          ctx.index_keys.finish_pending();
          indexes[i].entries = KeyList{};
          indexes[i].runs.clear();
        } else if (key.state == RowBatch::KeyState::kKey) {
          ctx.index_keys.add(indexes[i].entries, indexes[i].runs,
                             std::span<const std::uint8_t>(batch.key_bytes.data() + key.begin, key.size),
                             place_tag(at), ctx.index_keys.limit(lists));
        }
      }
    }
  };
  // Threaded, the rows are read on a second thread, and keyed and written
  // on this one.
  run_batches<RowBatch>(rows.order.size() >= ctx.options.read_ahead_from_rows,
                        [&](RowBatch& batch) { return reader.fill(batch); }, take);
  if (page) ctx.sink.write(data_pages.at(page_index++), page->page());
  if (page_index != data_pages.size()) internal_error("rows filled fewer pages than counted");
  long_values.finish();
  ctx.index_keys.finish_pending();

  MapSlot& owned = ctx.plan.slot(plan, 0);
  MapSlot& free = ctx.plan.slot(plan, 1);
  owned.pages.insert(data_pages.begin(), data_pages.end());
  // Pages are filled in order, so only the last one can have room left.
  if (!data_pages.empty()) free.pages.insert(data_pages.back());

  std::vector<RowPointer> new_at;
  for (IndexCopy& index : indexes) {
    if (index.keys && index.stored.empty() && index.unformed.empty()) continue;
    if (new_at.empty()) new_at = new_places(ctx.format, rows, data_pages);
    if (!index.keys) {
      carry_over(ctx, t, index, rows, new_at, lists);
    } else if (!index.unformed.empty()) {
      carry_proven_keys(ctx, plan, index, rows, new_at, lists);
    } else {
      carry_stored_keys(ctx, t, index, rows, new_at, lists);
    }
    index.stored = {};
  }
  ctx.index_keys.finish_pending();
  source_done();

  lay_out_indexes(ctx, plan, indexes, rows.order.size() >= ctx.options.read_ahead_from_rows);

  plan.update.row_count = static_cast<std::uint32_t>(rows.order.size());
  plan.update.next_autonumber = get_u32(plan.definition, ctx.format.tdef_autonumber_at);  // kept unless recounted below
  if (reader.has_autonumber()) plan.update.next_autonumber = static_cast<std::uint32_t>(reader.largest_autonumber() + 1);
  plan.update.table_ids = ctx.plan.table_ids();
}

}  // namespace jet::write

#include "engine/write/row_scan.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/key_pipeline.h"
#include "engine/write/object_ids.h"
#include "engine/write/rewrite_options.h"
#include "engine/write/rewrite_source.h"
#include "engine/write/row_keys.h"
#include "engine/write/stored_index_entries.h"

namespace jet::write {

namespace {

constexpr std::size_t kMaxRows = 0xFFFFFFFFu;  // row counts are 32-bit

RowTable scan_table(RewriteContext& ctx, const TablePlan& plan, RewriteSource& source) {
  const TableDef& t = plan.def;
  RowTable rows;
  const IndexData* primary = primary_key_of(t);
  std::optional<IndexKeys> primary_keys;
  std::string reason;
  if (primary) primary_keys = keys_for(ctx.format, t, *primary, reason, learned_orders(ctx.options));
  const std::vector<bool> wanted = primary_keys ? columns_keyed(t, {primary}, nullptr) : std::vector<bool>{};
  KeyPipeline& order_keys = ctx.order_keys;
  KeyList keys;
  std::vector<KeySpill::Run> runs;  // primary keys set aside past the budget
  Bytes patched;
  Bytes key;
  Row values;
  // The stored row count is only a hint (a damaged file may hold anything
  // there), so it is capped by what the file could hold at all.
  const std::uint64_t could_hold = std::uint64_t{source.page_count()} * (ctx.format.page_size / 16);
  const auto expected = static_cast<std::size_t>(std::min<std::uint64_t>({t.row_count, could_hold, kMaxRows}));
  rows.old_at.reserve(expected);
  rows.size.reserve(expected);
  source.scan_raw_rows(t, [&](RowPointer old_at, std::span<const std::uint8_t> bytes) {
    if (bytes.size() > DataPageBuilder::max_row_size(ctx.format)) {
      throw Error(errc::kCannotOpenDatabase, "Damaged row in " + t.name + ": longer than a page.");
    }
    if (rows.old_at.size() >= kMaxRows) {
      throw Error(errc::kCannotOpenDatabase, "Damaged table " + t.name + ": more rows than a table can hold.");
    }
    const auto position = static_cast<std::uint32_t>(rows.old_at.size());
    rows.old_at.push_back(old_at);
    rows.size.push_back(static_cast<std::uint16_t>(bytes.size()));
    if (!primary_keys) return;
    std::span<const std::uint8_t> row = bytes;
    if (!plan.id_columns.empty()) {
      patched.assign(bytes.begin(), bytes.end());
      patch_object_ids(ctx.jet_format, t, plan.id_columns, ctx.plan.table_ids(), patched);
      row = patched;
    }
    decode_fields(ctx.jet_format, ctx.db.header().code_page, &source, t, split_row(ctx.jet_format, t, row), wanted,
                  values);
    bool listed = false;
    if (!key_or_give_up(*primary_keys, values, key, listed, reason)) {
      primary_keys.reset();
      order_keys.finish_pending();
      keys = KeyList{};
      runs.clear();
      return;
    }
    if (!listed) {
      throw Error(errc::kCannotOpenDatabase, "Damaged table " + t.name + ": its primary key does not cover every row.");
    }
    order_keys.add(keys, runs, key, position, order_keys.limit(kOrderLists));
  });
  source.release_rows(t);
  const std::size_t n = rows.old_at.size();
  order_keys.finish_pending();
  if (primary_keys) {
    keys.sort();
    rows.order.reserve(n);
    order_keys.merge(runs, keys, [&](std::span<const std::uint8_t>, std::uint64_t tag) {
      rows.order.push_back(static_cast<std::uint32_t>(tag));
    });
  } else if (primary) {
    rows.order = stored_order(source, ctx.format, t, *primary, rows, reason);
  } else {
    rows.order.resize(n);
    for (std::size_t i = 0; i < n; ++i) rows.order[i] = static_cast<std::uint32_t>(i);
  }
  return rows;
}

}  // namespace

RowTable scan_rows(RewriteContext& ctx, const TablePlan& plan, RewriteSource& source) {
  try {
    return scan_table(ctx, plan, source);
  } catch (const DamagedData& e) {
    throw Error(errc::kCannotOpenDatabase, "Damaged row in table " + plan.def.name + ": " + e.what() + ".");
  }
}

}  // namespace jet::write

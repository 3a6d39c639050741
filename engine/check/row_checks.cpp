#include "engine/check/row_checks.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/format/row_layout.h"
#include "engine/file/file_errors.h"
#include "engine/format/table_definition.h"
#include "engine/index/table_index_pass.h"
#include "engine/read/database.h"

namespace jet::check {
namespace {

void add(CheckReport& report, PageNumber page, const std::string& table, std::string kind,
         std::string message) {
  Finding f;
  f.page = page;
  f.table = table;
  f.kind = std::move(kind);
  f.message = std::move(message);
  report.findings.push_back(std::move(f));
}

std::string row_name(std::uint16_t slot) { return "row " + std::to_string(slot); }

// Chains up to this many rows look for loops in a short list.
constexpr std::size_t kShortChain = 32;

// Follows one long value's storage, claiming the pages it uses. Returns an
// empty string when it resolves, else what is wrong. `empty_link` tells of
// a chain link that carries no data: the value resolves no further, which
// the reader reports as a row that cannot be decoded.
std::string walk_long_value(RowContext& ctx, std::span<const std::uint8_t> field, bool& empty_link) {
  LongValueRef ref = parse_long_value_ref(field);
  if (ref.kind == kLongValueInline) {
    if (std::size_t{ref.length} + 12 > field.size()) return "inline long value longer than its field";
    return {};
  }
  if (ref.kind != kLongValueSingleRow && ref.kind != kLongValueChained) {
    return "long value of unknown storage kind " + std::to_string(ref.kind);
  }
  std::uint64_t total = 0;
  std::uint32_t next = ref.row_pointer;
  std::vector<std::uint32_t>& seen = ctx.scratch->seen;
  seen.clear();
  std::set<std::uint32_t> seen_many;  // takes over from `seen` on long chains
  bool chained = ref.kind == kLongValueChained;
  while (true) {
    RowPointer where = decode_row_pointer(next);
    auto at = [&] { return "page " + std::to_string(where.page) + " row " + std::to_string(where.row); };
    if (where.page == 0 || where.page >= ctx.db.page_count()) return "long value points at " + at() + ", outside the file";
    bool repeated = false;
    if (seen.size() < kShortChain) {
      repeated = std::find(seen.begin(), seen.end(), next) != seen.end();
      seen.push_back(next);
    } else {
      if (seen_many.empty()) seen_many.insert(seen.begin(), seen.end());
      repeated = !seen_many.insert(next).second;
    }
    if (repeated) return "long value chain loops at " + at();
    auto page = ctx.db.page(where.page);
    if ((*page)[0] != page_type::kData || !is_long_value_page(ctx.format, *page)) {
      return "long value points at " + at() + ", which is not a long-value page";
    }
    RowSlot slot = data_page_slot(ctx.format, *page, where.row);
    if (slot.deleted) return "long value points at deleted " + at();
    ctx.long_values.claim(where.page, ctx.table_index, ctx.report);
    std::size_t size = slot.end - slot.start;
    if (!chained) {
      if (size < ref.length) return "long value at " + at() + " is shorter than its stored length";
      return {};
    }
    if (size < 4) return "long value chain row at " + at() + " is too short";
    if (size == 4) empty_link = true;
    total += size - 4;
    if (total >= ref.length) return {};
    next = get_u32(*page, slot.start);
    if (next == 0) return "long value chain ends early at " + at();
  }
}

// What decoding the row's values would stumble over once the row has split
// and its long values resolve: a number column stored shorter than its type
// (the same words the reader uses). Empty when every value decodes.
std::string value_problem(const TableDef& t, const std::vector<RawField>& fields) {
  for (std::size_t c = 0; c < fields.size() && c < t.columns.size(); ++c) {
    const Column& column = t.columns[c];
    if (fields[c].null || !has_typed_size(column.type)) continue;
    const std::size_t need = fixed_data_size(column);
    if (fields[c].bytes.size() < need) {
      return "column '" + column.name + "' holds " + std::to_string(fields[c].bytes.size()) + " bytes, needs " +
             std::to_string(need);
    }
  }
  return {};
}

// The reader's wording for a row it cannot decode.
std::string decode_failure(RowContext& ctx, const std::string& detail) {
  return damaged_file_error(ctx.db.path(), detail).source();
}

// Builds the values the table's indexes key on and hands the row over.
void pass_to_indexes(RowContext& ctx, RowPointer where, const std::vector<RawField>& fields) {
  const TableDef& t = ctx.table;
  Row& values = ctx.scratch->key_values;
  values.resize(t.columns.size());
  for (std::size_t c : ctx.index_pass->key_positions()) {
    if (c >= fields.size()) continue;
    values[c] = decode_field(ctx.format, t.columns[c], fields[c], ctx.db.header().code_page,
                             [&](std::span<const std::uint8_t> field) { return ctx.db.read_long_value(field); });
  }
  ctx.index_pass->add_row(where, values);
}

}  // namespace

bool is_long_value_page(const JetFormat& format, std::span<const std::uint8_t> page) {
  return page.size() >= format.page_owner_offset + 4 &&
         std::memcmp(page.data() + format.page_owner_offset, "LVAL", 4) == 0;
}

PageRows check_row_area(const JetFormat& f, std::span<const std::uint8_t> page, PageNumber p,
                        CheckReport& report) {
  PageRows rows;
  std::uint16_t count = 0;
  try {
    count = data_page_row_count(f, page);
  } catch (const DamagedData& e) {
    add(report, p, {}, "row-offsets", e.what());
    rows.count_unreadable = true;
    return rows;
  }
  if (count > f.max_rows_per_page) {
    add(report, p, {}, "row-offsets", "the page claims " + std::to_string(count) + " rows, more than fit");
  }
  struct Span {
    std::uint16_t start, end, slot;
  };
  std::vector<Span> live;
  for (std::uint16_t s = 0; s < count; ++s) {
    RowSlot slot;
    bool broken = false;
    try {
      slot = data_page_slot(f, page, s);
    } catch (const DamagedData& e) {
      add(report, p, {}, "row-offsets", e.what());
      slot.deleted = true;
      broken = true;
    }
    rows.slots.push_back(slot);
    rows.broken.push_back(broken);
    if (slot.deleted) continue;
    live.push_back({slot.start, slot.end, s});
  }
  std::sort(live.begin(), live.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
  std::vector<bool> overlapping(count, false);
  for (std::size_t i = 1; i < live.size(); ++i) {
    if (live[i].start < live[i - 1].end) {
      add(report, p, {}, "row-offsets",
          row_name(live[i - 1].slot) + " and " + row_name(live[i].slot) + " overlap");
      overlapping[live[i].slot] = overlapping[live[i - 1].slot] = true;
    }
  }
  for (std::uint16_t s = 0; s < count; ++s) {
    if (!rows.slots[s].deleted && !overlapping[s]) ++rows.live;
    if (overlapping[s]) rows.broken[s] = true;
  }
  return rows;
}

void check_rows(RowContext& ctx, std::span<const std::uint8_t> page, PageNumber p, const PageRows& rows) {
  const TableDef& t = ctx.table;
  auto not_passed = [&] {
    if (ctx.all_rows_passed != nullptr) *ctx.all_rows_passed = false;
  };
  for (std::uint16_t s = 0; s < rows.slots.size(); ++s) {
    const RowSlot& slot = rows.slots[s];
    if (rows.broken[s]) not_passed();
    if (slot.deleted || rows.broken[s]) continue;
    Bytes moved;
    std::span<const std::uint8_t> bytes = page.subspan(slot.start, slot.end - slot.start);
    if (slot.overflow) {
      try {
        auto found = ctx.db.read_row_bytes({p, s});
        if (!found) continue;
        moved = std::move(*found);
        bytes = moved;
      } catch (const Error& e) {
        not_passed();
        add(ctx.report, p, t.name, "row-overflow", row_name(s) + " was moved, but its new place cannot be read: " + e.source());
        continue;
      }
    }
    bool long_value_damaged = false;
    bool empty_link = false;
    std::vector<RawField> fields;
    try {
      fields = split_row(ctx.format, t, bytes);
      for (std::size_t c = 0; c < fields.size() && c < t.columns.size(); ++c) {
        if (!is_long_value(t.columns[c].type) || fields[c].null) continue;
        std::string problem = walk_long_value(ctx, fields[c].bytes, empty_link);
        if (!problem.empty()) {
          long_value_damaged = true;
          add(ctx.report, p, t.name, "long-value", row_name(s) + " column '" + t.columns[c].name + "': " + problem);
        }
      }
    } catch (const DamagedData& e) {
      not_passed();
      add(ctx.report, p, t.name, "row-decode", row_name(s) + ": " + e.what());
      continue;
    } catch (const Error& e) {
      not_passed();
      add(ctx.report, p, t.name, "long-value", row_name(s) + ": " + e.source());
      continue;
    }
    if (long_value_damaged) {
      not_passed();
      continue;
    }
    std::string problem = value_problem(t, fields);
    if (problem.empty() && empty_link) problem = "long value chain has an empty link";
    if (!problem.empty()) {
      not_passed();
      add(ctx.report, p, t.name, "row-decode", row_name(s) + ": " + decode_failure(ctx, problem));
      continue;
    }
    if (ctx.index_pass == nullptr) continue;
    try {
      pass_to_indexes(ctx, RowPointer{p, s}, fields);
    } catch (const std::exception&) {
      // A key value that cannot be built: the index check proper says why.
      not_passed();
    }
  }
}

}  // namespace jet::check

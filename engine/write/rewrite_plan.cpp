#include "engine/write/rewrite_plan.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/little_endian.h"
#include "engine/write/object_ids.h"
#include "engine/write/order_conversion.h"
#include "engine/write/page_sink.h"
#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_source.h"
#include "engine/write/usage_map_builder.h"

namespace jet::write {

namespace {

constexpr std::uint32_t kFirstDefinitionPage = 2;  // the catalog's definition always starts here
constexpr std::uint32_t kMapPageOwner = 0;         // usage-map rows live on pages owned by no table

std::size_t slots_for(const TableDefinitionLayout& l) { return 2 + l.real_index_count + 2 * l.column_map_count; }

}  // namespace

std::uint32_t RewritePlan::allocate() {
  if (!spare_.empty()) {
    const std::uint32_t p = *spare_.begin();
    spare_.erase(spare_.begin());
    return p;
  }
  return next_page_++;
}

// A table's id is its first definition page, so that page must not be a
// number some row already uses for another object (or for one that no
// longer exists): the reference would silently change meaning.
std::uint32_t RewritePlan::allocate_definition_start() {
  while (taken_ids_.count(next_page_) != 0) spare_.insert(next_page_++);
  return next_page_++;
}

void RewritePlan::plan_tables(RewriteSource& source, const JetFormat& jet_format, GeneralOrderConversion* conversion) {
  std::vector<TableDef> tables = source.tables();
  std::sort(tables.begin(), tables.end(),
            [](const TableDef& a, const TableDef& b) { return a.definition_page < b.definition_page; });
  tables.erase(std::unique(tables.begin(), tables.end(),
                           [](const TableDef& a, const TableDef& b) { return a.definition_page == b.definition_page; }),
               tables.end());
  if (tables.empty() || tables.front().definition_page != kFirstDefinitionPage) {
    throw Error(errc::kCannotOpenDatabase, "Damaged database: the catalog table is not where it belongs.");
  }
  taken_ids_ = taken_object_ids(source, jet_format, tables);
  if (taken_ids_.count(kFirstDefinitionPage) != 0) {
    throw Error(errc::kCannotOpenDatabase, "Damaged database: an object other than the catalog has id 2.");
  }
  next_page_ = kFirstDefinitionPage;
  for (TableDef& t : tables) {
    TablePlan plan;
    plan.definition = t.raw;
    if (plan.definition.size() < 12) throw Error(errc::kCannotOpenDatabase, "Damaged table definition of " + t.name + ".");
    // The stored length counts the bytes after the first eight; drop what the last page holds beyond it.
    const std::size_t declared = std::size_t{get_u32(plan.definition, 8)} + 8;
    if (declared < plan.definition.size()) plan.definition.resize(declared);
    plan.layout = scan_table_definition(format_, plan.definition);
    if (conversion) conversion->put_text_columns_in_general_order(t, plan.definition, plan.text_conversions);
    const std::uint32_t n = table_definition_page_count(format_, plan.definition);
    plan.definition_pages.push_back(allocate_definition_start());
    for (std::uint32_t i = 1; i < n; ++i) plan.definition_pages.push_back(allocate());
    plan.id = plan.definition_pages.front();
    table_ids_[t.definition_page] = plan.id;
    plan.id_columns = object_id_columns(t);
    plan.def = std::move(t);
    plans_.push_back(std::move(plan));
  }
}

void RewritePlan::plan_map_slots() {
  std::size_t total = 0;
  for (TablePlan& plan : plans_) {
    plan.first_slot = total;
    total += slots_for(plan.layout);
  }
  const std::size_t row_space = format_.usage_map_row_size() + 2;
  const std::size_t per_page =
      std::min<std::size_t>(format_.max_rows_per_page, (format_.page_size - format_.data_page_header_size()) / row_space);
  for (std::size_t i = 0; i < total; ++i) {
    if (i % per_page == 0) map_pages_.push_back(allocate());
    MapSlot slot;
    slot.page = map_pages_.back();
    slot.row = static_cast<std::uint8_t>(i % per_page);
    slots_.push_back(std::move(slot));
  }
}

void RewritePlan::write_usage_maps(PageSink& sink) {
  std::map<std::uint32_t, DataPageBuilder> pages;
  for (std::uint32_t p : map_pages_) pages.emplace(p, DataPageBuilder(format_, kMapPageOwner));
  for (MapSlot& s : slots_) {
    Bytes row;
    if (fits_inline_map(format_, s.pages)) {
      row = build_inline_map(format_, s.pages);
    } else {
      std::vector<std::uint32_t> bitmap_pages;
      const std::uint32_t n = reference_map_pages_needed(format_, s.pages);
      for (std::uint32_t i = 0; i < n; ++i) bitmap_pages.push_back(allocate());
      ReferenceMap map = build_reference_map(format_, s.pages, bitmap_pages);
      for (std::uint32_t i = 0; i < n; ++i) sink.write(bitmap_pages[i], std::move(map.pages[i]));
      row = std::move(map.row);
    }
    DataPageBuilder& page = pages.at(s.page);
    if (page.add(row) != s.row) internal_error("usage map landed on another slot");
  }
  for (auto& [number, page] : pages) sink.write(number, page.page());
}

void RewritePlan::write_definition(TablePlan& plan, PageSink& sink) {
  TableDefinitionUpdate& u = plan.update;
  u.owned_map = slot(plan, 0).reference();
  u.free_map = slot(plan, 1).reference();
  u.index_maps.clear();
  for (std::uint32_t i = 0; i < plan.layout.real_index_count; ++i) u.index_maps.push_back(slot(plan, 2 + i).reference());
  u.column_owned_maps.clear();
  u.column_free_maps.clear();
  for (std::uint32_t k = 0; k < plan.layout.column_map_count; ++k) {
    u.column_owned_maps.push_back(slot(plan, column_slot(plan, k, true)).reference());
    u.column_free_maps.push_back(slot(plan, column_slot(plan, k, false)).reference());
  }
  const Bytes patched = patch_table_definition(format_, plan.definition, plan.layout, u);
  std::vector<Bytes> pages = split_table_definition(format_, patched, plan.definition_pages);
  for (std::size_t i = 0; i < pages.size(); ++i) sink.write(plan.definition_pages[i], std::move(pages[i]));
}

}  // namespace jet::write

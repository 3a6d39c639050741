#pragma once
// The plan of a compacted copy, made before any row is copied: each table's
// definition pages (the first of them is its new id), the fixed places of
// the usage-map rows, and the page numbers handed out as the copy is
// written. When the rows are done it writes the usage maps and the table
// definitions it planned, patched with where everything went.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "engine/format/jet_format.h"
#include "engine/model/schema.h"
#include "engine/write/code_page_conversion.h"
#include "engine/write/page_set.h"
#include "engine/write/table_definition_writer.h"
#include "engine/write/write_format.h"

namespace jet::write {

class GeneralOrderConversion;
class PageSink;
class RewriteSource;

// One usage-map row on the map pages: its fixed place and the pages it lists.
struct MapSlot {
  std::uint32_t page = 0;
  std::uint8_t row = 0;
  PageSet pages;
  MapReference reference() const { return MapReference{page, row}; }
};

struct TablePlan {
  TableDef def;
  Bytes definition;
  TableDefinitionLayout layout;
  std::vector<std::uint32_t> definition_pages;
  std::uint32_t id = 0;
  std::size_t first_slot = 0;  // owned, free, one per physical index, two per column map
  std::vector<std::size_t> id_columns;  // columns holding object ids
  // Jet 3 text moving to code page 1252, per column (null: none).
  std::vector<const CodePageConversion*> text_conversions;
  TableDefinitionUpdate update;
};

class RewritePlan {
 public:
  explicit RewritePlan(const WriteFormat& format) : format_(format) {}

  // Places every table's definition, the catalog's first, in the source's
  // definition order. With `conversion`, text columns get the General order.
  void plan_tables(RewriteSource& source, const JetFormat& jet_format, GeneralOrderConversion* conversion);
  // Gives every table's usage maps their rows on the map pages.
  void plan_map_slots();

  // The next page of the copy. Pages skipped when placing definitions are
  // handed out first, so the file has no holes.
  std::uint32_t allocate();

  std::vector<TablePlan>& tables() { return plans_; }
  // Old table id to new.
  const std::map<std::uint32_t, std::uint32_t>& table_ids() const { return table_ids_; }

  // The table's usage-map slots: 0 owned pages, 1 free pages, 2 + i the
  // pages of physical index i, then column_slot().
  MapSlot& slot(const TablePlan& plan, std::size_t i) { return slots_[plan.first_slot + i]; }
  // The slot of column-map record `record`: its owned pages, or its free ones.
  static std::size_t column_slot(const TablePlan& plan, std::size_t record, bool owned) {
    return 2 + plan.layout.real_index_count + 2 * record + (owned ? 0 : 1);
  }

  // Writes every usage-map row (and the bitmap pages of reference maps).
  void write_usage_maps(PageSink& sink);
  // Writes the table's definition with where its maps, indexes and rows went.
  void write_definition(TablePlan& plan, PageSink& sink);

  // Pages handed out so far: after the last, the copy's page count.
  std::uint32_t page_count() const { return next_page_; }
  // Pages skipped for definitions that no structure has taken yet.
  bool has_spare_pages() const { return !spare_.empty(); }

 private:
  std::uint32_t allocate_definition_start();

  const WriteFormat& format_;
  std::uint32_t next_page_ = 0;
  std::vector<TablePlan> plans_;
  std::map<std::uint32_t, std::uint32_t> table_ids_;
  std::set<std::uint32_t> taken_ids_;  // object ids in use that are not table ids
  std::set<std::uint32_t> spare_;
  std::vector<std::uint32_t> map_pages_;
  std::vector<MapSlot> slots_;
};

}  // namespace jet::write

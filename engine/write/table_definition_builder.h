#pragma once
// A new table's definition: the pair of the reader's parse_table_definition.
// A TableLayout says what the table holds (columns numbered and placed,
// index descriptors) and a TablePlacement where its structures went; the
// definition bytes are laid out from both, for Jet 3 or Jet 4. The layout
// comes from engine/builder (user tables from a design, the system tables
// as Access lays them out). WRITE_FORMAT.md lists the fields.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/format/jet_format.h"
#include "engine/model/schema.h"

namespace jet::write {

// Column flag bits as stored.
inline constexpr std::uint8_t kColumnFixed = 0x01;
inline constexpr std::uint8_t kColumnNullable = 0x02;
inline constexpr std::uint8_t kColumnAutoNumber = 0x04;
inline constexpr std::uint8_t kColumnUpdatable = 0x10;  // Access sets it on every system column

struct ColumnLayout {
  std::string name;
  ColumnType type = ColumnType::Long;
  std::uint16_t number = 0;
  std::uint16_t var_index = 0;   // variable columns before this one (its slot, if variable)
  std::uint16_t column_id = 0;   // Access repeats the number for user tables, 0 for system tables
  std::uint8_t flags = 0;
  std::uint16_t fixed_offset = 0;
  std::uint16_t length = 0;      // bytes
  bool is_fixed() const { return (flags & kColumnFixed) != 0; }
};

struct IndexLayout {
  std::string name;
  std::vector<std::uint16_t> columns;  // column numbers, ascending
  std::uint8_t flags = 0;              // as Jet 4 stores it: 0x01 unique, 0x02 ignore nulls, 0x08 required, 0x80 always
  bool primary_key = false;
};

struct TableLayout {
  std::string name;
  bool system = false;
  std::vector<ColumnLayout> columns;  // in column-number order
  std::vector<IndexLayout> indexes;   // one physical index each, numbered in this order
  std::uint16_t var_columns = 0;
  std::uint16_t fixed_area = 0;       // bytes of the fixed-length area
  // Long-value columns: each keeps its own pages and usage maps.
  std::vector<std::uint16_t> long_value_columns;
};

// Fills var_index, fixed_offset, var_columns, fixed_area and
// long_value_columns from the columns' types and flags.
void assign_positions(TableLayout& layout);

// Where a table's structures live, filled in once they are written.
struct TablePlacement {
  std::uint32_t row_count = 0;
  std::uint32_t next_autonumber = 0;
  std::uint32_t owned_map = 0;  // row references (page << 8 | row)
  std::uint32_t free_map = 0;
  std::vector<std::uint32_t> index_maps;
  std::vector<std::uint32_t> index_roots;
  std::vector<std::uint32_t> index_entries;
  std::vector<std::uint32_t> column_owned_maps;  // per long_value_columns entry
  std::vector<std::uint32_t> column_free_maps;

  // A placement with every list sized for `layout` and zero everywhere
  // (the definition has the same length whatever the placement).
  static TablePlacement blank(const TableLayout& layout);
};

// The definition bytes, joined (one buffer, before splitting over pages).
// Jet 3 names are stored in `code_page`, Jet 4 names as UCS-2.
Bytes build_table_definition(const JetFormat& format, const TableLayout& layout, const TablePlacement& placement,
                             std::uint16_t code_page);

}  // namespace jet::write

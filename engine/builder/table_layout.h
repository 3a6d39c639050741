#pragma once
// A table as it will be stored: column numbers, flags, fixed offsets and
// index descriptors worked out from a TableDesign (or given outright for the
// system tables), and the definition bytes laid out from that. The reader's
// parse_table_definition (engine/format) reads these bytes back.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/builder/table_design.h"
#include "engine/model/schema.h"

namespace jet::build {

// Column flag bits as stored.
inline constexpr std::uint8_t kColumnFixed = 0x01;
inline constexpr std::uint8_t kColumnUpdatable = 0x02;
inline constexpr std::uint8_t kColumnAutoNumber = 0x04;

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
  std::uint8_t flags = 0;              // as stored: 0x01 unique, 0x02 ignore nulls, 0x08 required, 0x80 always
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

// Numbers the columns in the order given, assigns flags and offsets the way
// Access does for a new table. Throws jet::Error 3001 for a design Access
// would refuse (no columns, duplicate names, unknown index columns, an
// AutoNumber that is not a Long, too long a text).
TableLayout layout_user_table(const TableDesign& design);

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
};

// The Jet 4 definition bytes, joined (one buffer, before splitting over pages).
Bytes build_table_definition(const TableLayout& layout, const TablePlacement& placement);

}  // namespace jet::build

#pragma once
// The in-memory model of a table definition, shared by the reader (which
// fills it from a table-definition page chain) and the writer (which lays it
// out again). Raw descriptor bytes are kept so a rewrite can carry over
// fields whose meaning does not matter to us.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/column_type.h"
#include "engine/model/value.h"

namespace jet {

using PageNumber = std::uint32_t;

// A row's address: data page and slot number on that page.
struct RowPointer {
  PageNumber page = 0;
  std::uint16_t row = 0;
  bool operator==(const RowPointer&) const = default;
  auto operator<=>(const RowPointer&) const = default;
};

struct Column {
  std::string name;  // UTF-8
  // For a calculated column, the type of its result when the table's
  // properties name it (engine/format/calculated_value.h), else the
  // descriptor's type.
  ColumnType type = ColumnType::Long;
  std::uint16_t number = 0;        // column number (gaps where columns were deleted)
  std::uint16_t var_index = 0;     // position among variable-length columns
  std::uint16_t fixed_offset = 0;  // offset inside the fixed-length area
  std::uint16_t length = 0;        // declared size in bytes
  std::uint8_t flags = 0;          // raw column flags (fixed length, nullable, AutoNumber, ...)
  std::uint16_t collation = 0;     // text sort order (Jet 4 text and memo)
  std::uint8_t precision = 0;      // Numeric
  std::uint8_t scale = 0;          // Numeric
  Bytes raw;                       // the column descriptor as stored
  std::uint16_t column_id = 0;     // the descriptor's second column number
  std::uint8_t ext_flags = 0;      // Jet 4: 0x01 text kept as compressed Unicode; ACE: 0xC0 calculated
  std::uint16_t code_page = 0;     // Jet 3 text: code page of the column (0: the database's)
  std::int32_t complex_id = 0;     // Complex: the column's ComplexID in MSysComplexColumns

  bool is_fixed() const { return (flags & 0x01) != 0; }
  bool is_nullable() const { return (flags & 0x02) != 0; }
  bool is_autonumber() const { return (flags & 0x04) != 0; }
  bool is_replication_autonumber() const { return (flags & 0x40) != 0; }  // GUID AutoNumber
  bool is_hyperlink() const { return (flags & 0x80) != 0; }
  bool is_compressed_unicode() const { return (ext_flags & 0x01) != 0; }
  // Access 2010 and later: the stored value is computed, and wrapped.
  bool is_calculated() const { return (ext_flags & 0xC0) != 0; }
  // A Yes/No column keeps its value in the row's null mask; a calculated
  // one with a Yes/No result holds it as data.
  bool value_in_null_mask() const { return type == ColumnType::Boolean && !is_calculated(); }
};

// One column of a physical index, with its sort direction.
struct IndexColumn {
  std::uint16_t column_number = 0;
  bool ascending = true;
};

// A physical index: the B-tree that logical indexes share.
struct IndexData {
  std::uint32_t number = 0;
  std::vector<IndexColumn> columns;
  PageNumber first_page = 0;       // root of the B-tree
  PageNumber usage_map = 0;        // reference to the usage map row (Jet 3 keeps one per index)
  std::uint8_t flags = 0;          // unique 0x01, ignore nulls 0x02, required 0x08
  std::uint32_t row_count = 0;     // as stored (informational)
  Bytes raw;                       // the descriptors as stored

  bool is_unique() const { return (flags & 0x01) != 0; }
  bool ignores_nulls() const { return (flags & 0x02) != 0; }
  bool is_required() const { return (flags & 0x08) != 0; }
};

// A logical index: what Access shows by name.
struct Index {
  std::string name;                // UTF-8
  std::uint32_t number = 0;
  std::uint32_t index_data = 0;    // which IndexData it uses
  std::uint8_t kind = 0;           // 1 primary key, 2 foreign key, 0 other
  std::uint32_t related_table = 0; // foreign key: the other table's definition page
  std::uint32_t related_index = 0;
  Bytes raw;
  std::uint8_t related_table_type = 0;  // foreign key: which side of the relationship this is
  bool cascade_updates = false;
  bool cascade_deletes = false;

  bool is_primary_key() const { return kind == 1; }
  bool is_foreign_key() const { return kind == 2; }
};

struct TableDef {
  std::string name;                  // UTF-8, from the catalog
  PageNumber definition_page = 0;    // first table-definition page: also the table's id
  std::uint8_t table_type = 0;       // 0x4E user, 0x53 system
  std::uint32_t row_count = 0;       // as stored
  std::uint32_t next_autonumber = 0; // AutoNumber seed as stored
  std::vector<Column> columns;       // in column-number order
  std::vector<IndexData> index_data;
  std::vector<Index> indexes;
  Bytes usage_map_owned;             // the raw usage map of the pages that hold the table's rows
  Bytes usage_map_free;              // the raw usage map of those pages with free space
  Bytes raw;                         // the whole definition, page chain joined, as stored
  std::uint16_t max_columns = 0;     // columns a row may hold, deleted ones included
  std::uint16_t var_column_count = 0;
  RowPointer owned_map_row;          // where usage_map_owned is stored
  RowPointer free_map_row;           // where usage_map_free is stored
  // Jet 4: the long-value pages of some columns have their own pair of usage
  // maps, listed after the index names (column number, then the owned and
  // free maps' row references as stored: page << 8 | row).
  struct ColumnMaps {
    std::uint16_t column = 0;
    std::uint32_t owned_map = 0;
    std::uint32_t free_map = 0;
  };
  std::vector<ColumnMaps> column_maps;
  std::vector<PageNumber> definition_pages;  // the definition's page chain, in order

  bool is_system() const { return table_type == 0x53; }
  const Column* find_column(std::string_view column_name) const {
    for (const Column& c : columns) {
      if (c.name == column_name) return &c;
    }
    return nullptr;
  }
};

}  // namespace jet

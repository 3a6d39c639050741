#pragma once
// Lays out a new table's definition from its columns and indexes: the pair
// of the reader's parse_table_definition, used by the database builder.
// Usage maps, index roots and counts are left for the rewriter to fill in.
#include <string>
#include <vector>

#include "engine/format/jet_format.h"
#include "engine/model/schema.h"

namespace jet::write {

struct ColumnDesign {
  std::string name;
  ColumnType type = ColumnType::Long;
  std::uint16_t size = 0;  // Text: characters; Binary: bytes; other types: from the type
  bool required = false;
  bool autonumber = false;  // Long only
};

struct IndexDesign {
  std::string name;
  std::vector<std::string> columns;  // ascending
  bool primary_key = false;
  bool unique = false;
};

struct TableDesign {
  std::string name;
  std::vector<ColumnDesign> columns;
  std::vector<IndexDesign> indexes;
  bool system = false;
};

// The table as the model holds it (columns numbered and placed, indexes
// resolved) with `raw` set to its stored definition. Throws jet::Error 3251
// for what the builder does not lay out (unknown column, too many columns).
TableDef build_table_definition(const JetFormat& format, const TableDesign& design, std::uint16_t code_page);

}  // namespace jet::write

#pragma once
// The values behind a table's complex columns (ACE: attachments, fields of
// several values, the version history of append-only memos). A row holds a
// complex id; MSysComplexColumns names the column's hidden table, whose
// rows each carry the complex id they belong to (FORMAT.md, "ACE column
// kinds").
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet {

class Database;

enum class ComplexKind : std::uint8_t {
  kAttachments,     // values: the file names
  kValues,          // a field of several values: the values
  kVersionHistory,  // values: the memo's saved texts, oldest first (the last is the current one)
  kOther,           // a hidden table of another shape: no values taken
};

struct ComplexColumnValues {
  ComplexKind kind = ComplexKind::kOther;
  std::string hidden_table;
  // By complex id, in the order the values were added (the hidden rows'
  // own ids), a version history by its dates. A complex id without rows
  // has no entry.
  std::map<std::int32_t, std::vector<Value>> values;
};

// For each complex column of `table` (by its position in table.columns)
// whose hidden table MSysComplexColumns names and the file holds. Throws
// like Database::scan_rows for a hidden table that cannot be read.
std::map<std::size_t, ComplexColumnValues> read_complex_values(Database& db, const TableDef& table);

}  // namespace jet

#include "engine/builder/table_layout.h"

#include <algorithm>
#include <set>

#include "engine/error.h"
#include "engine/format/row_layout.h"

namespace jet::build {

namespace {

constexpr int kInvalidArgument = 3001;
constexpr std::uint8_t kIndexAlwaysSet = 0x80;

[[noreturn]] void refuse(const std::string& why) { throw Error(kInvalidArgument, "Invalid table: " + why + "."); }

// Jet 4 stores text as UCS-2, so its lengths are twice the characters.
std::uint16_t stored_length(const ColumnDesign& c, bool jet4) {
  const int unit = jet4 ? 2 : 1;
  switch (c.type) {
    case ColumnType::Text:
      if (c.text_length == 0 || c.text_length > 255) refuse("text column '" + c.name + "' must hold 1 to 255 characters");
      return static_cast<std::uint16_t>(c.text_length * unit);
    case ColumnType::Memo:
    case ColumnType::Ole:
      return 0;
    case ColumnType::Binary:
      return static_cast<std::uint16_t>(255 * unit);
    case ColumnType::Boolean:
      return 1;
    default: {
      Column probe;
      probe.type = c.type;
      return static_cast<std::uint16_t>(fixed_data_size(probe));
    }
  }
}

bool is_variable(ColumnType t) {
  return t == ColumnType::Text || t == ColumnType::Memo || t == ColumnType::Ole || t == ColumnType::Binary;
}

}  // namespace

TableLayout layout_user_table(const TableDesign& design, JetVersion version) {
  if (design.name.empty() || design.name.size() > 64) refuse("a table name must have 1 to 64 characters");
  if (design.columns.empty() || design.columns.size() > 255) refuse("table '" + design.name + "' needs 1 to 255 columns");
  TableLayout layout;
  layout.name = design.name;
  std::set<std::string> names;
  for (const ColumnDesign& c : design.columns) {
    if (c.name.empty() || c.name.size() > 64) refuse("a column name must have 1 to 64 characters");
    if (!names.insert(c.name).second) refuse("column '" + c.name + "' appears twice");
    if (c.autonumber && c.type != ColumnType::Long) refuse("AutoNumber column '" + c.name + "' must be a Long");
    if (c.type == ColumnType::Numeric || c.type == ColumnType::Complex11) {
      refuse("column '" + c.name + "' has a type the builder does not write");
    }
    ColumnLayout col;
    col.name = c.name;
    col.type = c.type;
    col.number = static_cast<std::uint16_t>(layout.columns.size());
    col.column_id = col.number;
    col.length = stored_length(c, version == JetVersion::Jet4);
    col.flags = is_variable(c.type) ? 0 : write::kColumnFixed;
    // An AutoNumber is never null; every other new column may be.
    col.flags |= c.autonumber ? write::kColumnAutoNumber : write::kColumnNullable;
    layout.columns.push_back(col);
  }
  write::assign_positions(layout);

  bool have_primary = false;
  std::set<std::string> index_names;
  for (const IndexDesign& s : design.indexes) {
    if (s.name.empty() || !index_names.insert(s.name).second) refuse("index names must be present and distinct");
    if (s.columns.empty() || s.columns.size() > 10) refuse("index '" + s.name + "' needs 1 to 10 columns");
    IndexLayout index;
    index.name = s.name;
    for (const std::string& name : s.columns) {
      const auto it = std::find_if(layout.columns.begin(), layout.columns.end(),
                                   [&](const ColumnLayout& c) { return c.name == name; });
      if (it == layout.columns.end()) refuse("index '" + s.name + "' names unknown column '" + name + "'");
      if (it->type == ColumnType::Ole || it->type == ColumnType::Memo || it->type == ColumnType::Binary) {
        refuse("index '" + s.name + "' cannot key column '" + name + "'");
      }
      index.columns.push_back(it->number);
    }
    if (s.primary_key) {
      if (have_primary) refuse("table '" + design.name + "' has two primary keys");
      have_primary = true;
    }
    index.primary_key = s.primary_key;
    index.flags = static_cast<std::uint8_t>(kIndexAlwaysSet | (s.primary_key ? 0x09 : 0) | (s.unique ? 0x01 : 0));
    layout.indexes.push_back(index);
  }
  return layout;
}

}  // namespace jet::build

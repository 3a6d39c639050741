#pragma once
// The small "People" table the index tests key: ID (Long, column 0) and
// Name (Text in the General order, column 1), with value constructors and
// the entries an index of it should hold.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/index/index_entry.h"
#include "engine/index/index_key.h"
#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet::index::testing {

inline Value long_value(std::int64_t v) {
  Value x;
  x.type = ColumnType::Long;
  x.is_null = false;
  x.integer = v;
  return x;
}

inline Value text_value(const std::u16string& s, bool null = false) {
  Value x;
  x.type = ColumnType::Text;
  x.is_null = null;
  x.text = s;
  return x;
}

// The table without indexes; callers add theirs.
inline TableDef people_table() {
  TableDef table;
  table.name = "People";
  table.definition_page = 5;
  Column id;
  id.name = "ID";
  id.type = ColumnType::Long;
  id.number = 0;
  Column name;
  name.name = "Name";
  name.type = ColumnType::Text;
  name.number = 1;
  name.collation = 1033;
  table.columns = {id, name};
  return table;
}

// What `index` should hold for these rows, in key order.
inline std::vector<IndexEntry> entries_for(const TableDef& table, const IndexData& index,
                                           const std::vector<std::pair<RowPointer, Row>>& rows) {
  IndexKeyEncoder enc(table, index, Format::Jet4);
  std::vector<IndexEntry> v;
  for (const auto& [where, row] : rows) {
    if (auto key = enc.key_for(row)) v.push_back({*key, where, 0});
  }
  std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return compare_entries(a, b) < 0; });
  return v;
}

}  // namespace jet::index::testing

#pragma once
// Object ids in the catalog's rows. A table's id is the page its definition
// starts on, so when compaction moves definitions the columns of the system
// tables that hold ids are renumbered along with them.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "engine/format/jet_format.h"
#include "engine/model/schema.h"

namespace jet::write {

class RewriteSource;

bool holds_object_ids(std::string_view table, std::string_view column);

// Columns of a table that hold object ids (Long columns only).
std::vector<std::size_t> object_id_columns(const TableDef& t);

// The object ids rows use that are not table ids (queries, containers,
// deleted objects): no definition may start on such a page number, or the
// reference would silently change meaning.
std::set<std::uint32_t> taken_object_ids(RewriteSource& source, const JetFormat& format,
                                         const std::vector<TableDef>& tables);

// Renumbers, in place, the table ids a row holds in `id_columns`
// (old id to new in `table_ids`); other ids keep their value.
void patch_object_ids(const JetFormat& format, const TableDef& t, const std::vector<std::size_t>& id_columns,
                      const std::map<std::uint32_t, std::uint32_t>& table_ids, Bytes& raw);

}  // namespace jet::write

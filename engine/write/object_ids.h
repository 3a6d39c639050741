#pragma once
// Which columns of the system tables hold object ids. A table's id is the
// page its definition starts on, so when compaction moves definitions these
// columns are renumbered along with them.
#include <string_view>

namespace jet::write {

bool holds_object_ids(std::string_view table, std::string_view column);

}  // namespace jet::write

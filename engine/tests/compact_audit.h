#pragma once
// Checks a compacted file from the inside: every page has exactly one owner,
// data pages sit in their table's map, only the last one has room, and every
// index lists exactly the rows it should, at their new places.
#include "engine/read/database.h"

namespace jet::write_testing {

// Reports through gtest expectations. `source` is the file it came from
// (for indexes whose stored keys were carried over).
void audit_compacted(Database& compacted, Database& source);

}  // namespace jet::write_testing

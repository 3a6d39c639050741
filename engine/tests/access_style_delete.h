#pragma once
// Test helper: deletes rows from a database file the way Access does, to
// make bloated files for compaction tests. The row's slot is marked
// deleted (its bytes stay), its index entries are removed, the table's row
// count goes down, and every page stays allocated. Unencrypted files only.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "engine/model/schema.h"

namespace jet::write_testing {

// Deletes the rows of `table` for which `doomed` returns true (it sees each
// live row's values and ordinal in scan order). Returns how many went.
std::size_t delete_rows_like_access(const std::filesystem::path& file, const std::string& table,
                                    const std::function<bool(const Row&, std::size_t ordinal)>& doomed,
                                    const std::optional<std::string>& password = std::nullopt);

}  // namespace jet::write_testing

#pragma once
// Test support for maintain: corpus copies in a scratch folder, the command
// run in this process, and what a database holds, to compare before and
// after.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/check/check.h"
#include "engine/error.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"
#include "tools/quillmar-db/cli.h"
#include "tools/quillmar-db/tests/cli_runner.h"

namespace quillmar_db::testing {

namespace fs = std::filesystem;

#define REQUIRE_MAINTAIN_CORPUS()                                                                         \
  if (!fs::exists(jet::testing::corpus_dir() / "jet3" / "testV1997.mdb"))                                 \
  GTEST_SKIP() << "sample databases not found at " << jet::testing::corpus_dir() << " (set QUILLMAR_SHARED)"

inline fs::path copy_sample(const std::string& sample, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy_file(jet::testing::corpus_dir() / sample, to);
  return to;
}

// A page of zeros in a sample that has a row of MSysAccessObjects there:
// compacting it repairs at the cost of that row.
inline fs::path copy_damaged_sample(const fs::path& to) {
  copy_sample("wild/w133.mdb", to);
  std::vector<std::uint8_t> bytes = jet::testing::read_file(to);
  std::fill_n(bytes.begin() + 200 * 4096, 4096, std::uint8_t{0});
  jet::testing::write_file(to, bytes);
  return to;
}

// Each table's rows, as a reader sees them; empty when it does not open or
// fails its check.
inline std::map<std::string, std::uint32_t> table_rows(const fs::path& path,
                                                       const std::optional<std::string>& password = {}) {
  try {
    jet::OpenOptions options;
    options.password = password;
    auto db = jet::Database::open(path.string(), options);
    const jet::CheckReport report = jet::check_database(*db);
    if (report.error_count() != 0) return {};
    // Rows counted by the check, not the stored counts, which a compaction
    // corrects; system tables change in a compaction.
    std::map<std::string, std::uint32_t> rows;
    for (const auto& [name, live] : report.live_rows) {
      if (!name.starts_with("MSys")) rows[name] = static_cast<std::uint32_t>(live);
    }
    rows["(opens)"] = 1;
    return rows;
  } catch (const jet::Error&) {
    return {};
  }
}

inline std::vector<fs::path> files_in(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  return files;
}

}  // namespace quillmar_db::testing

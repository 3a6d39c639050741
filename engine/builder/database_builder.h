#pragma once
// Creates a new Jet 3 or Jet 4 database file from scratch: the header, the
// system tables with their standard rows, and user tables whose rows are
// appended one at a time. Rows go to disk page by page as they fill, long values to
// their own pages; what stays in memory is each table's open pages, its
// index keys (until finish() lays the B-trees out) and the page lists the
// usage maps are made from. Used by tests and the compaction benchmark.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/builder/table_design.h"
#include "engine/format/jet_format.h"
#include "engine/model/value.h"

namespace jet {
class Env;
}

namespace jet::build {

struct BuildOptions {
  JetVersion version = JetVersion::Jet4;
  double creation_date = 45000.0;  // days since 1899-12-30 (2023-03-15); Jet 3 keeps none
  std::optional<std::string> password;  // UTF-8; none: the file opens without one
  Env* env = nullptr;                   // where the file is made; nullptr: the default (POSIX) Env
};

// kDeleted writes the row and then leaves it the way Access leaves a
// deleted row: the slot flagged deleted with its bytes still on the page,
// no index entry, not counted, its AutoNumber used up, its long values
// left on their pages. That makes the bloated files compaction is for.
enum class RowFate { kLive, kDeleted };

class DatabaseBuilder {
 public:
  // Creates the file (it must not exist: error 3204). A password longer
  // than the format holds is refused with 3031 before anything is made.
  explicit DatabaseBuilder(const std::string& path, const BuildOptions& options = {});
  // A builder dropped before finish() removes its unfinished file.
  ~DatabaseBuilder();
  DatabaseBuilder(const DatabaseBuilder&) = delete;
  DatabaseBuilder& operator=(const DatabaseBuilder&) = delete;

  // Returns the handle append_row takes. Error 3001 for a design Access would
  // refuse, 3010 for a name already used.
  std::size_t add_table(const TableDesign& design);

  // One value per column in the design's order; AutoNumber columns take a
  // null and get the next number. Returns the AutoNumber given (0 without).
  std::int64_t append_row(std::size_t table, Row values, RowFate fate = RowFate::kLive);

  // Writes indexes, usage maps, definitions, the catalog and the header,
  // and syncs the file. Nothing may be appended afterwards.
  void finish();

  std::uint32_t pages_written() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace jet::build

#pragma once
// Integrity check: walks the whole file and reports what it finds, split
// into errors (damage: data that is lost, unreachable or contradictory) and
// notes (harmless leftovers Access itself leaves, such as allocated pages
// nothing uses). The database is only read. CHECKS.md lists what is checked
// and the format facts the checks rely on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/model/schema.h"

namespace jet {

class Database;

enum class Severity { Error, Note };

struct Finding {
  static constexpr PageNumber kNoPage = 0xFFFFFFFFu;

  Severity severity = Severity::Error;
  PageNumber page = kNoPage;  // the page the finding is about, if any
  std::string table;          // the table it concerns, if any
  std::string kind;           // short fixed tag, e.g. "page-owner", "row-count"
  std::string message;
};

struct CheckReport {
  std::vector<Finding> findings;
  // Each table whose definition could be read, with the live rows found on
  // the pages its usage map lists.
  std::vector<std::pair<std::string, std::uint64_t>> live_rows;

  std::size_t error_count() const;
  std::size_t note_count() const;
  bool clean() const { return error_count() == 0; }
};

// How the check's work (the pass over the pages, then the indexes) is
// shared out over threads. Whatever the choice, the report is the same.
struct CheckOptions {
  // Threads: 0 for one per core (at most four), 1 to check on the caller's
  // thread alone.
  unsigned threads = 0;
  // Smaller files are checked on the caller's thread: a second thread and
  // its own handle on the file cost more than they save there.
  PageNumber parallel_from_pages = 8192;
  // Consecutive pages a thread takes at a time.
  PageNumber stretch_pages = 256;
};

// Throws jet::Error only when the file cannot be read at all (its catalog is
// unreadable); every other problem becomes a finding.
CheckReport check_database(Database& db, const CheckOptions& options = {});

}  // namespace jet

#pragma once
// Compaction: copy a database into a new file the way a fresh database would
// hold it. The source is only ever read.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace jet {

class Env;
class SourceHold;

struct CompactRequest {
  std::string source_path;
  std::string destination_path;
  // Password the source is opened with (";pwd=" of the source connect string).
  std::optional<std::string> source_password;  // UTF-8
  // Password the new file gets; none keeps the source's password.
  std::optional<std::string> destination_password;  // UTF-8
  // Sort order the new file's text indexes use, as a Windows language id
  // (0x0409 is the General order). None keeps the source's order.
  std::optional<std::uint16_t> destination_language;
  // Called now and then with pages done and pages in all.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  // File layer to use; null means the real file system.
  Env* env = nullptr;
  // Memory a table's index keys may take before they are sorted in runs on
  // a scratch file beside the destination; none: the engine's default.
  std::optional<std::size_t> key_memory;
  // Tables with at least this many rows are read ahead by a second thread
  // while their pages are written; none: the engine's default.
  std::optional<std::size_t> read_ahead_from_rows;
  // The caller's hold on the source, for a caller that keeps the source
  // held beyond the run (to back it up first, or to put the copy in its
  // place before anyone can open it); compaction tests it at the start and
  // the end as it does its own. Null: compaction holds the source itself.
  SourceHold* source_hold = nullptr;
};

// Something of a damaged source the copy does not carry as it was: rows of
// a damaged page, a row or long value that could not be read, a table whose
// definition is damaged, rows set aside in a recovery table. The copy lists
// the same in its table MSysCompactError.
struct CompactLoss {
  std::int32_t code = 0;     // the Jet error a strict read would have raised
  std::string table;         // UTF-8
  std::string description;   // for a person to act on
};

struct CompactResult {
  std::uint32_t pages_before = 0;
  std::uint32_t pages_after = 0;
  std::uint64_t bytes_before = 0;
  std::uint64_t bytes_after = 0;
  // Empty for a source that needed no repair.
  std::vector<CompactLoss> losses;
};

// Throws jet::Error (number, description, source) on any failure; the
// destination is then not left behind.
CompactResult compact_database(const CompactRequest& request);

}  // namespace jet

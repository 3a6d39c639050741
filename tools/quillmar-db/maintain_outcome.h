#pragma once
// What maintain did with one database, for the report.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/compact/compact.h"
#include "engine/error.h"

namespace quillmar_db {

inline constexpr const char* kMaintainSource = "quillmar-db maintain";

enum class MaintainStatus {
  Compacted,       // the compacted copy is in the original's place
  Repaired,        // the same, and the copy lost or set aside rows (losses)
  NotRepaired,     // --no-repair: it needs a repair, and was left as it was
  SkippedInUse,    // someone has it open (error names them)
  SkippedPassword, // it has a password no --password-file opened
  Failed,          // error; the original is as it was
  WouldCompact,    // --dry-run
};

struct MaintainOutcome {
  std::string path;
  MaintainStatus status = MaintainStatus::Failed;
  std::uint64_t bytes_before = 0;
  std::uint64_t bytes_after = 0;
  std::vector<jet::CompactLoss> losses;
  std::string backup;                 // the backup made (or, dry run, its folder)
  std::optional<jet::Error> error;    // Failed, Skipped*: why
  std::vector<std::string> notes;     // what went wrong without undoing the run
};

}  // namespace quillmar_db

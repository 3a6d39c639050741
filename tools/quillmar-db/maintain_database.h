#pragma once
// One database through maintain: held against other users from start to
// end; compacted into a temporary file beside it that has the original's
// owner, mode and attributes, which the engine syncs and checks; backed up
// meanwhile; renamed over the original. The original is changed only by that rename,
// and only once its replacement is on disk and checked clean.
#include <ctime>
#include <optional>
#include <string>

#include "tools/quillmar-db/maintain_outcome.h"
#include "tools/quillmar-db/maintain_targets.h"

namespace jet {
class Env;
}

namespace quillmar_db {

struct MaintainSettings {
  std::optional<std::string> password;  // UTF-8, for every database that has one
  bool repair = true;
  bool dry_run = false;
  unsigned keep = 7;
  jet::Env* env = nullptr;  // null: the real file system
};

// The name the compacted copy is made under, beside the database; hidden,
// as Samba hides dot files from Windows users by default.
std::string temporary_path_for(const std::string& database);

MaintainOutcome maintain_database(const MaintainTarget& target, const MaintainSettings& settings, std::time_t now);

}  // namespace quillmar_db

#pragma once
// The databases maintain works on: the .mdb and .accdb files named, or
// found in the folders named (below them too with `recursive`), each with
// the folder its backups go to.
#include <optional>
#include <string>
#include <vector>

#include "tools/quillmar-db/maintain_outcome.h"

namespace quillmar_db {

inline constexpr const char* kBackupFolderName = ".quillmar-backups";

struct MaintainTarget {
  std::string path;
  std::string backup_folder;
};

struct MaintainTargets {
  std::vector<MaintainTarget> databases;  // in the order named, each folder's sorted by name
  std::vector<MaintainOutcome> failures;  // names that are no database maintain may replace
};

// Backups go to `backup_dir` when given (below it, the path of the
// database from the folder named, or the file's name for a file named),
// otherwise to .quillmar-backups beside the file, one folder per database.
// Folders holding backups are never searched. A symbolic link named is
// followed, so the database it points to is replaced and the link kept;
// links met inside folders are passed over.
MaintainTargets find_databases(const std::vector<std::string>& operands, bool recursive,
                               const std::optional<std::string>& backup_dir);

bool is_database_name(const std::string& name);

}  // namespace quillmar_db

#pragma once
// The backups maintain keeps of each database: named as the window names
// its backup, "backup" + local time as dd-mm-yyyy_hh-mm-ss, with the
// database's own extension (a second backup within the same second gets
// "_2", "_3" and so on), one folder per database so that --keep counts
// that database's backups only.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace jet {
class Env;
}

namespace quillmar_db {

// "backup07-12-2026_09-05-33.mdb"; repeat > 1 adds "_<repeat>".
std::string backup_file_name(const std::tm& local, const std::string& extension, int repeat = 1);

// When `name` is a backup name with `extension`: a key that sorts backups
// from oldest to newest.
std::optional<std::string> backup_sort_key(const std::string& name, const std::string& extension);

// Copies the database, held by the caller and open at `database_fd`, into
// `folder` (created like its parent when missing): written under a partial
// name, synced, given the original's owner, mode and attributes, then
// renamed to its backup name. Returns the backup's path; on failure throws
// jet::Error and leaves nothing behind.
std::string make_backup(jet::Env& env, const std::string& database, int database_fd, const std::string& folder,
                        std::time_t now);

// Removes the oldest backups in `folder` beyond the newest `keep`, and the
// partial files of runs that were cut short. Returns the paths removed.
std::vector<std::string> prune_backups(jet::Env& env, const std::string& folder, const std::string& extension,
                                       unsigned keep);

}  // namespace quillmar_db

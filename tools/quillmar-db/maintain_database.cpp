#include "tools/quillmar-db/maintain_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "engine/compact/compact.h"
#include "engine/compact/source_hold.h"
#include "engine/file/env.h"
#include "engine/read/database.h"
#include "tools/quillmar-db/file_metadata.h"
#include "tools/quillmar-db/maintain_backup.h"

namespace quillmar_db {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTemporarySuffix = ".quillmar-new";

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

[[noreturn]] void fail_errno(const std::string& what, int error) {
  throw jet::Error(error == EACCES || error == EPERM ? 3051 : 3043, what + ": " + std::strerror(error) + ".",
                   kMaintainSource);
}

std::string folder_of(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// What a run killed midway left beside the database: the temporary copy and
// the engine's scratch files named after it. Only the holder of the
// database makes them, and we hold it.
void remove_leftovers(jet::Env& env, const std::string& temporary) {
  const std::string prefix = fs::path(temporary).filename().string();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder_of(temporary), ec)) {
    if (entry.path().filename().string().starts_with(prefix)) env.remove(entry.path().string());
  }
}

// Removes what this run made when the database stays as it was.
void undo(jet::Env& env, const std::string& temporary, const std::string& backup) {
  for (const std::string& path : {temporary, backup}) {
    try {
      if (!path.empty() && env.file_exists(path)) env.remove(path);
    } catch (const jet::Error&) {
      // The failure that brought us here is the one to report.
    }
  }
}

void gives_copy_the_originals_metadata(int original_fd, const std::string& temporary) {
  Fd copy{::open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
  if (copy.fd < 0) fail_errno("Cannot open the compacted copy '" + temporary + "'", errno);
  copy_file_metadata(original_fd, copy.fd, temporary);
  if (::fsync(copy.fd) != 0) fail_errno("Cannot sync the compacted copy '" + temporary + "'", errno);
}

void run(const MaintainTarget& target, const MaintainSettings& settings, std::time_t now, MaintainOutcome& out) {
  jet::Env& env = settings.env != nullptr ? *settings.env : jet::default_env();
  const std::string& path = target.path;

  // Held from here to the end: nobody opens it between the backup and the
  // rename, and a second maintain run passes it over.
  jet::SourceHold hold(env, path);
  Fd original{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
  if (original.fd < 0) fail_errno("Cannot open '" + path + "'", errno);
  struct stat st {};
  if (::fstat(original.fd, &st) != 0) fail_errno("Cannot read '" + path + "'", errno);
  // The rename would leave the other names holding the old database.
  if (st.st_nlink > 1) {
    throw jet::Error(3001, "It has " + std::to_string(st.st_nlink) + " hard links; putting a copy in its place would split them.",
                     kMaintainSource);
  }
  out.bytes_before = static_cast<std::uint64_t>(st.st_size);

  // The password, before anything is written.
  jet::OpenOptions options;
  options.password = settings.password;
  options.env = &env;
  jet::Database::open(path, options);

  if (settings.dry_run) {
    out.status = MaintainStatus::WouldCompact;
    out.backup = target.backup_folder;
    return;
  }

  const std::string temporary = temporary_path_for(path);
  remove_leftovers(env, temporary);
  out.backup = make_backup(env, path, original.fd, target.backup_folder, now);
  try {
    jet::CompactRequest request;
    request.source_path = path;
    request.destination_path = temporary;
    request.source_password = settings.password;
    request.env = &env;
    request.source_hold = &hold;
    const jet::CompactResult result = jet::compact_database(request);
    out.losses = result.losses;
    out.bytes_after = result.bytes_after;
    if (!result.losses.empty() && !settings.repair) {
      undo(env, temporary, out.backup);
      out.backup.clear();
      out.status = MaintainStatus::NotRepaired;
      return;
    }
    gives_copy_the_originals_metadata(original.fd, temporary);
    // Whoever opened it since the engine's last look would lose their work.
    hold.test_again();
    env.rename(temporary, path);
  } catch (...) {
    undo(env, temporary, out.backup);
    out.backup.clear();
    throw;
  }
  out.status = out.losses.empty() ? MaintainStatus::Compacted : MaintainStatus::Repaired;
  try {
    env.sync_directory(folder_of(path));
  } catch (const jet::Error& e) {
    out.notes.push_back("The compacted copy is in place, but its folder could not be synced: " + e.description());
  }
  try {
    prune_backups(env, target.backup_folder, fs::path(path).extension().string(), settings.keep);
  } catch (const jet::Error& e) {
    out.notes.push_back("Old backups were not removed: " + e.description());
  }
}

}  // namespace

std::string temporary_path_for(const std::string& database) {
  const fs::path path(database);
  return (path.parent_path() / ("." + path.filename().string() + kTemporarySuffix)).string();
}

MaintainOutcome maintain_database(const MaintainTarget& target, const MaintainSettings& settings, std::time_t now) {
  MaintainOutcome out;
  out.path = target.path;
  try {
    run(target, settings, now, out);
  } catch (const jet::Error& e) {
    out.error = e;
    if (e.number() == jet::errc::kDatabaseInUse) {
      out.status = MaintainStatus::SkippedInUse;
    } else if (e.number() == jet::errc::kNotAValidPassword) {
      out.status = MaintainStatus::SkippedPassword;
      out.error = jet::Error(e.number(),
                             settings.password ? "The password given with --password-file does not open it."
                                               : "It has a password; give it with --password-file.",
                             kMaintainSource);
    } else {
      out.status = MaintainStatus::Failed;
    }
  } catch (const std::bad_alloc&) {
    out.status = MaintainStatus::Failed;
    out.error = jet::Error(7, "Out of memory.", kMaintainSource);
  } catch (const std::exception& e) {
    out.status = MaintainStatus::Failed;
    out.error = jet::Error(3000, std::string("Unexpected failure: ") + e.what(), kMaintainSource);
  }
  return out;
}

}  // namespace quillmar_db

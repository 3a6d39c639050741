#include "tools/quillmar-db/maintain_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <exception>
#include <memory>
#include <thread>
#include <utility>

#include "engine/compact/compact.h"
#include "engine/compact/source_hold.h"
#include "engine/file/env.h"
#include "engine/file/env_wrapper.h"
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

// Gives the compacted copy the original's owner, mode and attributes as it
// is created, so that the engine's sync of the copy makes them durable too.
class CopyTakesOriginalsMetadata : public jet::EnvWrapper {
 public:
  CopyTakesOriginalsMetadata(jet::Env& target, std::string copy, int original_fd)
      : EnvWrapper(target), copy_(std::move(copy)), original_fd_(original_fd) {}

  std::unique_ptr<jet::WritableFile> create_exclusive(const std::string& path) override {
    auto file = EnvWrapper::create_exclusive(path);
    if (path == copy_) {
      Fd copy{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
      if (copy.fd < 0) fail_errno("Cannot open the compacted copy '" + path + "'", errno);
      copy_file_metadata(original_fd_, copy.fd, path);
    }
    return file;
  }

 private:
  std::string copy_;
  int original_fd_;
};

// The backup, made on a second thread while the copy is compacted: both
// only read the held database.
class BackupAlongside {
 public:
  BackupAlongside(jet::Env& env, const MaintainTarget& target, int original_fd, std::time_t now)
      : thread_([this, &env, &target, original_fd, now] {
          try {
            path_ = make_backup(env, target.path, original_fd, target.backup_folder, now);
          } catch (...) {
            failure_ = std::current_exception();
          }
        }) {}
  ~BackupAlongside() { join(); }

  // The backup's path once it is on disk; throws what made it fail.
  const std::string& wait() {
    join();
    if (failure_) std::rethrow_exception(failure_);
    return path_;
  }
  // The backup's path, or empty; never throws.
  const std::string& made() {
    join();
    return path_;
  }

 private:
  void join() {
    if (thread_.joinable()) thread_.join();
  }

  std::string path_;
  std::exception_ptr failure_;
  std::thread thread_;
};

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

  if (settings.dry_run) {
    // Whether the password opens it.
    jet::OpenOptions options;
    options.password = settings.password;
    options.env = &env;
    jet::Database::open(path, options);
    out.status = MaintainStatus::WouldCompact;
    out.backup = target.backup_folder;
    return;
  }

  // The copy comes first, so that a database the password does not open,
  // or that cannot be compacted, gets no backup; the backup is on disk
  // before the original is replaced, and the hold keeps the two the same.
  const std::string temporary = temporary_path_for(path);
  remove_leftovers(env, temporary);
  BackupAlongside backup(env, target, original.fd, now);
  try {
    CopyTakesOriginalsMetadata copy_env(env, temporary, original.fd);
    jet::CompactRequest request;
    request.source_path = path;
    request.destination_path = temporary;
    request.source_password = settings.password;
    request.env = &copy_env;
    request.source_hold = &hold;
    const jet::CompactResult result = jet::compact_database(request);
    out.losses = result.losses;
    out.bytes_after = result.bytes_after;
    if (!result.losses.empty() && !settings.repair) {
      undo(env, temporary, backup.made());
      out.status = MaintainStatus::NotRepaired;
      return;
    }
    out.backup = backup.wait();
    // Whoever opened it since the engine's last look would lose their work.
    hold.test_again();
    env.rename(temporary, path);
  } catch (...) {
    undo(env, temporary, backup.made());
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

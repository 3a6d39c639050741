#include "engine/compact/source_hold.h"

#include <algorithm>
#include <vector>

#include "engine/error.h"
#include "engine/format/lock_file_users.h"

namespace jet {
namespace {

// The users a lock file names; none when it cannot be read (it may vanish
// as its last user leaves).
std::vector<LockFileUser> users_in(Env& env, const std::string& lock_file) {
  try {
    auto file = env.open_readable(lock_file);
    Bytes bytes(static_cast<std::size_t>(std::min<std::uint64_t>(file->size(), kLockFileMaxEntries * kLockFileEntrySize)));
    file->read(0, bytes.size(), bytes.data());
    return parse_lock_file_users(bytes);
  } catch (const Error&) {
    return {};
  }
}

}  // namespace

SourceHold::SourceHold(Env& env, std::string database)
    : env_(env), database_(std::move(database)), lock_file_(lock_file_path(database_)) {
  database_hold_ = env_.hold_file(database_, true);
  test();
}

void SourceHold::test_again() { test(); }

void SourceHold::test() {
  const LockState database = database_hold_->test();
  // A lock file that appears during the run is a user who opened the
  // database meanwhile.
  if (!lock_file_hold_ && env_.file_exists(lock_file_)) {
    try {
      lock_file_hold_ = env_.hold_file(lock_file_, false);
    } catch (const Error& e) {
      if (e.number() != errc::kCouldNotFindFile) throw;  // gone again: its user left
    }
  }
  const LockState lock_file = lock_file_hold_ ? lock_file_hold_->test() : LockState::kFree;

  if (database == LockState::kHeld || lock_file == LockState::kHeld) {
    const std::vector<LockFileUser> users =
        lock_file_hold_ ? users_in(env_, lock_file_) : std::vector<LockFileUser>{};
    const std::string who = users.empty() ? "another process" : describe_lock_file_users(users);
    throw Error(errc::kDatabaseInUse,
                "The database '" + database_ + "' is in use by " + who + "; close it there before compacting.");
  }
  // Without working locks the lock file is all there is to go by: entries
  // in it may be users still working, and only they can say.
  if (lock_file == LockState::kUntestable) {
    const std::vector<LockFileUser> users = users_in(env_, lock_file_);
    if (!users.empty()) {
      throw Error(errc::kDatabaseInUse,
                  "The database '" + database_ + "' may be in use by " + describe_lock_file_users(users) +
                      ": this file system cannot tell whether they still have it open. Once they have closed "
                      "it, delete the stale lock file '" + lock_file_ + "' and compact again.");
    }
  }
}

}  // namespace jet

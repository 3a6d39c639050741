#include "engine/compact/source_hold.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "engine/error.h"
#include "engine/format/lock_file_users.h"

namespace jet {
namespace {

// The users a lock file names; none when it cannot be read (it may vanish
// as its last user leaves).
std::vector<LockFileUser> users_in(Env& env, const std::string& ldb) {
  try {
    auto file = env.open_readable(ldb);
    Bytes bytes(static_cast<std::size_t>(std::min<std::uint64_t>(file->size(), kLockFileMaxEntries * kLockFileEntrySize)));
    file->read(0, bytes.size(), bytes.data());
    return parse_lock_file_users(bytes);
  } catch (const Error&) {
    return {};
  }
}

// "stock.ldb" beside "stock.mdb".
std::string lock_file_path_of(const std::string& database) {
  std::filesystem::path ldb(database);
  ldb.replace_extension(".ldb");
  return ldb.string();
}

}  // namespace

SourceHold::SourceHold(Env& env, std::string database)
    : env_(env), database_(std::move(database)), ldb_(lock_file_path_of(database_)) {
  database_hold_ = env_.hold_file(database_, true);
  test();
}

void SourceHold::test_again() { test(); }

void SourceHold::test() {
  const LockState database = database_hold_->test();
  // An ".ldb" that appears during the run is a user who opened the database
  // meanwhile.
  if (!ldb_hold_ && env_.file_exists(ldb_)) {
    try {
      ldb_hold_ = env_.hold_file(ldb_, false);
    } catch (const Error& e) {
      if (e.number() != errc::kCouldNotFindFile) throw;  // gone again: its user left
    }
  }
  const LockState ldb = ldb_hold_ ? ldb_hold_->test() : LockState::kFree;

  if (database == LockState::kHeld || ldb == LockState::kHeld) {
    const std::vector<LockFileUser> users = ldb_hold_ ? users_in(env_, ldb_) : std::vector<LockFileUser>{};
    const std::string who = users.empty() ? "another process" : describe_lock_file_users(users);
    throw Error(errc::kDatabaseInUse,
                "The database '" + database_ + "' is in use by " + who + "; close it there before compacting.");
  }
  // Without working locks the ".ldb" is all there is to go by: entries in
  // it may be users still working, and only they can say.
  if (ldb == LockState::kUntestable) {
    const std::vector<LockFileUser> users = users_in(env_, ldb_);
    if (!users.empty()) {
      throw Error(errc::kDatabaseInUse,
                  "The database '" + database_ + "' may be in use by " + describe_lock_file_users(users) +
                      ": this file system cannot tell whether they still have it open. Once they have closed "
                      "it, delete the stale lock file '" + ldb_ + "' and compact again.");
    }
  }
}

}  // namespace jet

// A database someone has open is never compacted, whatever kind of lock
// shows it: flock, POSIX record or open-file-description locks, held by
// another process on the database or its lock file (".ldb" beside an
// ".mdb", ".laccdb" beside an ".accdb"), on bytes inside the file or far
// beyond its end, shared or exclusive. Releasing the lock lets the same
// compaction through. While we compact, others see our lock.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <tuple>

#include "engine/builder/database_builder.h"
#include "engine/compact/compact.h"
#include "engine/compact/source_hold.h"
#include "engine/error.h"
#include "engine/file/memory_env.h"
#include "engine/format/lock_file_users.h"
#include "engine/tests/builder_test_support.h"
#include "engine/tests/corpus_files.h"
#include "engine/tests/lock_holder_process.h"

namespace jet {
namespace {

using testing::LockHolder;
using testing::ScratchDir;

constexpr long long kJetLockRegion = 0x10000000;    // beyond the end of any lock file
constexpr long long kPastAnyDatabase = 0x7FFFFF00;  // beyond the end of any .mdb (2 GB at most)
const char* const kUsers = "FRONTDESK-PC (Admin), OFFICE-2 (Maria)";

// A database and the lock file its users keep. The builder writes Jet 4;
// the lock file goes by the name alone, so an ".accdb" name is enough.
struct DatabaseName {
  const char* database;
  const char* lock_file;
};
constexpr DatabaseName kDatabaseNames[] = {{"stock.mdb", "stock.ldb"}, {"stock.accdb", "stock.laccdb"}};

void PrintTo(const DatabaseName& n, std::ostream* os) { *os << n.database; }

// "mdb", "accdb": the part of a test's name.
std::string name_part(const DatabaseName& n) {
  return std::filesystem::path(n.database).extension().string().substr(1);
}

std::string name_of(const ::testing::TestParamInfo<DatabaseName>& param) { return name_part(param.param); }

Bytes filled_lock_file() {
  Bytes ldb = lock_file_entry({"FRONTDESK-PC", "Admin"});
  const Bytes second = lock_file_entry({"OFFICE-2", "Maria"});
  ldb.insert(ldb.end(), second.begin(), second.end());
  return ldb;
}

void build_database(const std::string& path, Env* env = nullptr) {
  build::BuildOptions options;
  options.env = env;
  build::DatabaseBuilder builder(path, options);
  const std::size_t t = builder.add_table(builder_testing::customers_design());
  for (int n = 0; n < 300; ++n) builder.append_row(t, builder_testing::customer_row(n));
  builder.finish();
}

class CompactLocks : public ::testing::Test {
 protected:
  virtual DatabaseName name() const { return kDatabaseNames[0]; }

  void SetUp() override {
    source_ = dir_ / name().database;
    lock_file_ = dir_ / name().lock_file;
    destination_ = dir_ / ("out" + source_.extension().string());
    build_database(source_.string());
    before_ = testing::read_file(source_);
  }

  CompactRequest request() const {
    CompactRequest r;
    r.source_path = source_.string();
    r.destination_path = destination_.string();
    return r;
  }

  // The error the run fails with, having checked that it left nothing.
  std::optional<Error> refusal(const CompactRequest& r) {
    try {
      compact_database(r);
    } catch (const Error& e) {
      EXPECT_FALSE(std::filesystem::exists(destination_)) << "destination left behind";
      EXPECT_EQ(testing::read_file(source_), before_) << "source changed";
      return e;
    }
    return std::nullopt;
  }

  std::string in_use_by(const std::string& who) const {
    return "The database '" + source_.string() + "' is in use by " + who + "; close it there before compacting.";
  }

  ScratchDir dir_;
  std::filesystem::path source_;
  std::filesystem::path lock_file_;
  std::filesystem::path destination_;
  Bytes before_;
};

struct HeldLock {
  const char* kind;
  bool on_lock_file;
  bool exclusive;
  bool beyond_end;
};

void PrintTo(const HeldLock& c, std::ostream* os) {
  *os << c.kind << (c.on_lock_file ? " on the lock file" : " on the database")
      << (c.exclusive ? ", exclusive" : ", shared") << (c.beyond_end ? ", beyond the end" : "");
}

using LockCase = std::tuple<HeldLock, DatabaseName>;

std::string case_name(const ::testing::TestParamInfo<LockCase>& info) {
  const auto& [c, n] = info.param;
  std::string name = name_part(n) + "_" + c.kind + (c.on_lock_file ? "_lockFile" : "_database") +
                     (c.exclusive ? "_exclusive" : "_shared");
  if (std::string(c.kind) != "flock") name += c.beyond_end ? "_beyondEnd" : "_inside";
  return name;
}

std::vector<HeldLock> every_held_lock() {
  std::vector<HeldLock> cases;
  for (const char* kind : {"flock", "posix", "ofd"}) {
    for (const bool on_lock_file : {false, true}) {
      for (const bool exclusive : {false, true}) {
        cases.push_back({kind, on_lock_file, exclusive, false});
        if (std::string(kind) != "flock") cases.push_back({kind, on_lock_file, exclusive, true});
      }
    }
  }
  return cases;
}

class EveryLockKind : public CompactLocks, public ::testing::WithParamInterface<LockCase> {
 protected:
  DatabaseName name() const override { return std::get<1>(GetParam()); }
};

// The lock file names two users in every case; with the database locked it
// has no live lock itself, and once the lock is gone it is a stale file that
// does not stand in the way.
TEST_P(EveryLockKind, RefusesWhileHeldAndCompactsOnceReleased) {
  const HeldLock c = std::get<0>(GetParam());
  testing::write_file(lock_file_, filled_lock_file());
  long long start = 0;
  long long length = 0;  // flock: the whole file
  if (std::string(c.kind) != "flock") {
    start = c.beyond_end ? (c.on_lock_file ? kJetLockRegion : kPastAnyDatabase) : (c.on_lock_file ? 64 : 4096);
    length = 1;
  }
  LockHolder other(c.kind, c.exclusive, c.on_lock_file ? lock_file_ : source_, start, length);
  ASSERT_TRUE(other.held()) << other.answer();

  const std::optional<Error> e = refusal(request());
  ASSERT_TRUE(e) << "compacted while another process held a lock";
  EXPECT_EQ(e->number(), errc::kDatabaseInUse);
  EXPECT_EQ(e->description(), in_use_by(kUsers));
  EXPECT_EQ(testing::read_file(lock_file_), filled_lock_file());

  other.release();
  EXPECT_FALSE(refusal(request())) << "the released lock still blocks";
  EXPECT_TRUE(std::filesystem::exists(destination_));
}

INSTANTIATE_TEST_SUITE_P(HeldByAnotherProcess, EveryLockKind,
                         ::testing::Combine(::testing::ValuesIn(every_held_lock()),
                                            ::testing::ValuesIn(kDatabaseNames)),
                         case_name);

TEST_F(CompactLocks, WithoutALockFileTheMessageSaysAnotherProcess) {
  LockHolder other("posix", false, source_, kPastAnyDatabase, 16);
  ASSERT_TRUE(other.held()) << other.answer();
  const std::optional<Error> e = refusal(request());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->description(), in_use_by("another process"));
}

// Our flock and our read lock over every byte: another process can take
// neither a write lock on any range nor a flock, and a handle of ours that
// opens and closes the file meanwhile does not drop them. A read lock it may
// take; the test just before the run returns finds it, and the copy, made
// while someone had the database open, goes.
TEST_F(CompactLocks, OthersSeeUsWhileWeRunAndWhoeverOpensMeanwhileSpoilsTheCopy) {
  std::vector<std::string> answers;
  std::unique_ptr<LockHolder> reader;
  CompactRequest r = request();
  r.progress = [&](std::uint64_t, std::uint64_t) {
    if (!answers.empty()) return;
    ::close(::open(source_.c_str(), O_RDONLY));
    for (const auto& [kind, start] : {std::pair{"posix", 0LL}, std::pair{"posix", kPastAnyDatabase},
                                      std::pair{"ofd", 4096LL}, std::pair{"flock", 0LL}}) {
      answers.push_back(LockHolder(kind, true, source_, start, start == 0 ? 0 : 1).answer());
    }
    reader = std::make_unique<LockHolder>("posix", false, source_, 0, 1);
  };
  const std::optional<Error> e = refusal(r);
  EXPECT_EQ(answers, (std::vector<std::string>{"busy", "busy", "busy", "busy"}));
  ASSERT_TRUE(reader);
  EXPECT_TRUE(reader->held()) << reader->answer();
  ASSERT_TRUE(e) << "compacted while a reader had the database open";
  EXPECT_EQ(e->description(), in_use_by("another process"));
}

class EitherName : public CompactLocks, public ::testing::WithParamInterface<DatabaseName> {
 protected:
  DatabaseName name() const override { return GetParam(); }
};

// A lock file that appears during the run, its user holding it.
TEST_P(EitherName, ALockFileThatAppearsMeanwhileSpoilsTheCopy) {
  std::unique_ptr<LockHolder> newcomer;
  CompactRequest r = request();
  r.progress = [&](std::uint64_t, std::uint64_t) {
    if (newcomer) return;
    testing::write_file(lock_file_, lock_file_entry({"LATECOMER", "Admin"}));
    newcomer = std::make_unique<LockHolder>("posix", true, lock_file_, kJetLockRegion, 1);
  };
  const std::optional<Error> late = refusal(r);
  ASSERT_TRUE(newcomer);
  EXPECT_TRUE(newcomer->held()) << newcomer->answer();
  ASSERT_TRUE(late);
  EXPECT_EQ(late->description(), in_use_by("LATECOMER (Admin)"));
}

INSTANTIATE_TEST_SUITE_P(Names, EitherName, ::testing::ValuesIn(kDatabaseNames),
                         name_of);

// The hold alone, as the compaction has it while it reads: another
// process's POSIX write lock on the .mdb fails on any range until the hold
// goes.
TEST_F(CompactLocks, TheHeldSourceRefusesOthersWriteLocksUntilReleased) {
  {
    SourceHold hold(default_env(), source_.string());
    EXPECT_EQ(LockHolder("posix", true, source_, kPastAnyDatabase, 1).answer(), "busy");
    EXPECT_EQ(LockHolder("posix", true, source_).answer(), "busy");
    EXPECT_TRUE(LockHolder("posix", false, source_).held()) << "readers may share";
    hold.test_again();
  }
  EXPECT_TRUE(LockHolder("posix", true, source_).held());
}

// Locks of other open files in this process count as another opener's; a
// POSIX lock of this process too (we take none ourselves).
TEST_F(CompactLocks, LocksOfOtherOpenFilesInThisProcessCount) {
  const int fd = ::open(source_.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  for (const int command : {F_OFD_SETLK, F_SETLK}) {
    struct flock range {};
    range.l_type = F_RDLCK;
    range.l_whence = SEEK_SET;
    range.l_start = kPastAnyDatabase;
    range.l_len = 1;
    ASSERT_EQ(::fcntl(fd, command, &range), 0);
    const std::optional<Error> e = refusal(request());
    ASSERT_TRUE(e) << (command == F_SETLK ? "posix" : "ofd");
    EXPECT_EQ(e->number(), errc::kDatabaseInUse);
    range.l_type = F_UNLCK;
    ASSERT_EQ(::fcntl(fd, command, &range), 0);
  }
  ::close(fd);
  EXPECT_FALSE(refusal(request()));
}

// In memory a hold locks its file against every other hold; without lock
// support the lock file is all there is to go by.
class MemoryLocks : public ::testing::Test {
 protected:
  virtual DatabaseName name() const { return kDatabaseNames[0]; }

  void SetUp() override {
    source_ = std::string("/m/") + name().database;
    lock_file_ = std::string("/m/") + name().lock_file;
    build_database(source_, &env_);
  }

  CompactRequest request() {
    CompactRequest r;
    r.source_path = source_;
    r.destination_path = "/m/out.mdb";
    r.env = &env_;
    return r;
  }

  std::optional<Error> refusal() {
    try {
      compact_database(request());
    } catch (const Error& e) {
      EXPECT_FALSE(env_.file_exists("/m/out.mdb"));
      return e;
    }
    return std::nullopt;
  }

  std::string source_;
  std::string lock_file_;
  MemoryEnv env_;
};

class MemoryLocksEitherName : public MemoryLocks, public ::testing::WithParamInterface<DatabaseName> {
 protected:
  DatabaseName name() const override { return GetParam(); }
};

TEST_F(MemoryLocks, AnotherHoldMeansInUse) {
  auto other = env_.hold_file(source_, false);
  ASSERT_EQ(other->test(), LockState::kFree);
  const std::optional<Error> e = refusal();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), errc::kDatabaseInUse);
  other.reset();
  EXPECT_FALSE(refusal());
}

TEST_P(MemoryLocksEitherName, WithoutLockSupportAFilledLockFileRefusesAndSaysToDeleteIt) {
  env_.set_locks_work(false);
  EXPECT_FALSE(refusal()) << "no lock file: nothing says anyone has it open";
  env_.remove("/m/out.mdb");

  env_.put(lock_file_, Bytes(2 * kLockFileEntrySize, ' '));
  EXPECT_FALSE(refusal()) << "a lock file naming nobody";
  env_.remove("/m/out.mdb");

  env_.put(lock_file_, filled_lock_file());
  const std::optional<Error> e = refusal();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), errc::kDatabaseInUse);
  EXPECT_EQ(e->description(), "The database '" + source_ + "' may be in use by " + kUsers +
                                  ": this file system cannot tell whether they still have it open. Once they have "
                                  "closed it, delete the stale lock file '" + lock_file_ + "' and compact again.");

  env_.remove(lock_file_);
  EXPECT_FALSE(refusal()) << "deleted as told";
}

INSTANTIATE_TEST_SUITE_P(Names, MemoryLocksEitherName, ::testing::ValuesIn(kDatabaseNames),
                         name_of);

}  // namespace
}  // namespace jet

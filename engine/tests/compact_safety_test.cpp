// What compaction must never do, whatever goes wrong: change the source,
// leave a partial destination behind, overwrite an existing file, compact a
// database someone else has open, or write index keys in an order the file
// does not declare.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <limits>

#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/file/fault_injection_env.h"
#include "engine/file/file_errors.h"
#include "engine/format/header_page.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using testing::ScratchDir;

constexpr std::uint32_t kJet4PageSize = 4096;

class CompactSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    auto file = testing::corpus_file("jet4", "testV2000.mdb");
    if (!file) GTEST_SKIP() << "sample databases not found under " << testing::shared_dir();
    // Work on a copy so the lock files the tests create sit in a scratch folder.
    source_ = dir_ / "source.mdb";
    std::filesystem::copy_file(file->path, source_);
    before_ = testing::read_file(source_);
  }

  CompactRequest request(Env* env = nullptr) const {
    CompactRequest r;
    r.source_path = source_.string();
    r.destination_path = (dir_ / "out.mdb").string();
    r.env = env;
    return r;
  }

  // Runs the request expecting a failure with `number`; checks the failure is
  // complete and that nothing was left or changed.
  Error expect_failure(const CompactRequest& r, int number) {
    try {
      compact_database(r);
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), number) << e.description();
      EXPECT_FALSE(e.description().empty());
      EXPECT_FALSE(e.source().empty());
      EXPECT_EQ(testing::read_file(source_), before_) << "source changed";
      return e;
    }
    ADD_FAILURE() << "compaction succeeded but should have failed with " << number;
    return Error(0, "");
  }

  bool destination_exists() const { return std::filesystem::exists(dir_ / "out.mdb"); }

  ScratchDir dir_;
  std::filesystem::path source_;
  Bytes before_;
};

TEST_F(CompactSafety, ExistingDestinationIsRefusedAndLeftAlone) {
  const Bytes existing{1, 2, 3};
  testing::write_file(dir_ / "out.mdb", existing);
  const Error e = expect_failure(request(), errc::kDatabaseAlreadyExists);
  EXPECT_EQ(e.description(), "Database already exists.");
  EXPECT_EQ(testing::read_file(dir_ / "out.mdb"), existing);

  CompactRequest onto_itself = request();
  onto_itself.destination_path = onto_itself.source_path;
  expect_failure(onto_itself, errc::kDatabaseAlreadyExists);
}

TEST_F(CompactSafety, DatabaseLockedByAnotherOpenerIsInUse) {
  // flock locks belong to an open file description, so a second descriptor
  // in this process conflicts just as another process would.
  const int fd = ::open(source_.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);
  const Error e = expect_failure(request(), errc::kDatabaseInUse);
  EXPECT_NE(e.description().find("in use"), std::string::npos);
  EXPECT_FALSE(destination_exists());
  ::close(fd);
}

TEST_F(CompactSafety, HeldLockFileMeansInUseButAStaleOneDoesNot) {
  const auto ldb = dir_ / "source.ldb";
  testing::write_file(ldb, Bytes(64, 0));
  const int fd = ::open(ldb.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);
  expect_failure(request(), errc::kDatabaseInUse);
  EXPECT_FALSE(destination_exists());
  ::close(fd);  // now the .ldb is stale: left behind by an opener that is gone

  compact_database(request());
  EXPECT_TRUE(destination_exists());
  EXPECT_EQ(testing::read_file(source_), before_);
}

TEST_F(CompactSafety, ReadErrorFailsCleanly) {
  FaultInjectionEnv env(default_env());
  env.fail_read_page(30, kJet4PageSize);  // a table definition page of this file
  expect_failure(request(&env), errc::kDiskOrNetworkError);
  EXPECT_FALSE(destination_exists());
}

TEST_F(CompactSafety, WriteErrorAndFullDiskFailCleanly) {
  for (const std::uint64_t at : {std::uint64_t{0}, std::uint64_t{5 * kJet4PageSize + 17}, std::uint64_t{40 * kJet4PageSize}}) {
    for (const bool disk_full : {false, true}) {
      FaultInjectionEnv env(default_env());
      env.fail_write_at(at, disk_full);
      expect_failure(request(&env), disk_full ? errc::kDiskFull : errc::kDiskOrNetworkError);
      EXPECT_FALSE(destination_exists()) << "write fault at " << at;
    }
  }
}

// Index keys that outgrow their memory budget are sorted in runs on a
// scratch file; the copy must come out byte for byte as without it, under a
// name no existing file has, and the scratch file must not outlive the run.
// Rows read ahead on a second thread or not give the same file too.
TEST_F(CompactSafety, KeysSortedOnDiskAndRowsReadAheadGiveTheSameFile) {
  CompactRequest inline_copy = request();
  inline_copy.read_ahead_from_rows = std::numeric_limits<std::size_t>::max();
  compact_database(inline_copy);
  const Bytes in_memory = testing::read_file(dir_ / "out.mdb");
  std::filesystem::remove(dir_ / "out.mdb");

  CompactRequest read_ahead = request();
  read_ahead.read_ahead_from_rows = 0;
  compact_database(read_ahead);
  EXPECT_EQ(testing::read_file(dir_ / "out.mdb"), in_memory) << "rows read ahead";
  std::filesystem::remove(dir_ / "out.mdb");

  // Files with the names the scratch files would take: left alone.
  const auto squatter = dir_ / "out.mdb.keys";
  const auto order_squatter = dir_ / "out.mdb.keys1.order";
  testing::write_file(squatter, Bytes{1, 2, 3});
  testing::write_file(order_squatter, Bytes{4, 5});
  CompactRequest r = request();
  r.key_memory = 256;  // a run every few rows, for primary keys too
  r.read_ahead_from_rows = 0;
  compact_database(r);
  EXPECT_EQ(testing::read_file(dir_ / "out.mdb"), in_memory);
  EXPECT_EQ(testing::read_file(squatter), (Bytes{1, 2, 3}));
  EXPECT_EQ(testing::read_file(order_squatter), (Bytes{4, 5}));
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.path())) ++files;
  EXPECT_EQ(files, 4u) << "source, copy and the unrelated files only";
}

// An index whose keys the encoder cannot form (here text outside the
// General order's tables) takes the source's stored entries; those are kept
// within the key budget as well, and set aside on disk give the same file.
TEST_F(CompactSafety, CarriedOverKeysSetAsideOnDiskGiveTheSameFile) {
  auto file = testing::corpus_file("jet4", "testUnicodeCompV2003.mdb");
  if (!file) GTEST_SKIP() << "sample not found under " << testing::shared_dir();
  CompactRequest r = request();
  r.source_path = file->path.string();
  compact_database(r);
  const Bytes in_memory = testing::read_file(dir_ / "out.mdb");
  std::filesystem::remove(dir_ / "out.mdb");

  r.key_memory = 64;  // a run every entry or two
  r.read_ahead_from_rows = 0;
  compact_database(r);
  EXPECT_EQ(testing::read_file(dir_ / "out.mdb"), in_memory);
}

TEST_F(CompactSafety, FullDiskWhileSortingKeysFailsCleanly) {
  FaultInjectionEnv env(default_env());
  env.fail_write_at(0, true);  // the first write of any file, the scratch file's included
  CompactRequest r = request(&env);
  r.key_memory = 256;
  expect_failure(r, errc::kDiskFull);
  EXPECT_FALSE(destination_exists());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.mdb.keys"));
}

TEST_F(CompactSafety, FailedFlushFailsCleanly) {
  FaultInjectionEnv env(default_env());
  env.fail_sync();
  expect_failure(request(&env), errc::kDiskOrNetworkError);
  EXPECT_FALSE(destination_exists());
}

TEST_F(CompactSafety, WrongSourcePasswordIsRefused) {
  auto file = testing::corpus_file("password", "V2003_with-password.mdb");
  if (!file) GTEST_SKIP() << "password sample not found";
  CompactRequest r = request();
  r.source_path = file->path.string();
  r.source_password = "not it";
  EXPECT_THROW(
      {
        try {
          compact_database(r);
        } catch (const Error& e) {
          EXPECT_EQ(e.number(), errc::kNotAValidPassword);
          throw;
        }
      },
      Error);
  EXPECT_FALSE(destination_exists());
}

TEST_F(CompactSafety, NewPasswordReplacesTheOld) {
  auto file = testing::corpus_file("password", "V2000_with-password.mdb");
  if (!file) GTEST_SKIP() << "password sample not found";
  CompactRequest r = request();
  r.source_path = file->path.string();
  r.source_password = "password";
  r.destination_password = "Zuerich!";
  compact_database(r);
  OpenOptions with_new;
  with_new.password = "Zuerich!";
  EXPECT_EQ(Database::open(r.destination_path, with_new)->header().password, u"Zuerich!");
  OpenOptions with_old;
  with_old.password = "password";
  EXPECT_THROW(Database::open(r.destination_path, with_old), Error);
}

// Rewrites the source's declared collating order (inside the masked header).
void set_sort_order(const std::filesystem::path& p, std::uint32_t order) {
  Bytes bytes = testing::read_file(p);
  HeaderInfo info;
  ASSERT_TRUE(parse_header_page(bytes.data(), bytes.size(), p.string(), info));
  Bytes page = info.unmasked;
  const JetFormat& f = *info.format;
  for (std::uint32_t i = 0; i < f.header_sort_order_size; ++i) {
    page[f.header_sort_order_offset + i] = static_cast<std::uint8_t>(order >> (8 * i));
  }
  toggle_header_mask(f, page.data());
  std::copy(page.begin(), page.end(), bytes.begin());
  testing::write_file(p, bytes);
}

// A copy keeps its source's collating order or becomes General; no other
// order can be asked for.
TEST_F(CompactSafety, CollatingOrderIsKeptOrMadeGeneral) {
  CompactRequest to_other = request();
  to_other.destination_language = 0x0419;  // Cyrillic
  Error e = expect_failure(to_other, errc::kNotBuiltYet);
  EXPECT_NE(e.description().find("collating order"), std::string::npos) << e.description();
  EXPECT_FALSE(destination_exists());

  set_sort_order(source_, 0x0000040C);  // a source in another order
  before_ = testing::read_file(source_);
  const auto order_of = [](const std::string& path) {
    return Database::open(path, OpenOptions{})->header().sort_order & 0xFFFF;
  };
  CompactRequest keep = request();
  compact_database(keep);
  EXPECT_EQ(order_of(keep.destination_path), 0x040Cu);
  std::filesystem::remove(keep.destination_path);

  CompactRequest to_general = request();
  to_general.destination_language = 0x0409;
  compact_database(to_general);
  EXPECT_EQ(order_of(to_general.destination_path), 0x0409u);
  EXPECT_EQ(testing::read_file(source_), before_);
}

TEST_F(CompactSafety, ProgressReachesTheEnd) {
  CompactRequest r = request();
  std::uint64_t last_done = 0;
  std::uint64_t last_total = 0;
  bool backwards = false;
  r.progress = [&](std::uint64_t done, std::uint64_t total) {
    backwards = backwards || done < last_done;
    last_done = done;
    last_total = total;
  };
  const CompactResult result = compact_database(r);
  EXPECT_FALSE(backwards);
  EXPECT_EQ(last_done, result.pages_after);
  EXPECT_EQ(last_total, result.pages_after);
  EXPECT_EQ(result.bytes_before, before_.size());
  EXPECT_LT(result.pages_after, result.pages_before);
}

}  // namespace
}  // namespace jet

// Large tables are copied by two threads, one reading rows (and the long
// values they refer to) ahead of the other, which writes them; the next
// table's first pass runs while a table's indexes are laid out. The copy must
// come out byte for byte as when one thread does both, and a failure on
// either thread must end the same clean way: an error, the source unchanged,
// no destination left.
#include <gtest/gtest.h>

#include <limits>

#include "engine/builder/database_builder.h"
#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/file/fault_injection_env.h"
#include "engine/file/file_errors.h"
#include "engine/tests/builder_test_support.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using builder_testing::customer_row;
using builder_testing::customers_design;
using testing::ScratchDir;

constexpr std::uint32_t kPageSize = 4096;
constexpr std::size_t kAlwaysReadAhead = 0;
constexpr std::size_t kNeverReadAhead = std::numeric_limits<std::size_t>::max();

class CompactReadAhead : public ::testing::Test {
 protected:
  void SetUp() override {
    // Enough rows and long values for many batches, a third deleted; and a
    // second table, whose first pass runs while the first one's indexes
    // are laid out.
    source_ = dir_ / "source.mdb";
    build::DatabaseBuilder b(source_.string());
    const std::size_t t = b.add_table(customers_design());
    build::TableDesign second = customers_design();
    second.name = "Archive";
    const std::size_t t2 = b.add_table(second);
    for (int n = 0; n < 900; ++n) {
      b.append_row(t, customer_row(n), n % 3 == 1 ? build::RowFate::kDeleted : build::RowFate::kLive);
      if (n % 3 == 0) b.append_row(t2, customer_row(n + 1));
    }
    b.finish();
    before_ = testing::read_file(source_);
  }

  CompactRequest request(std::size_t read_ahead_from, Env* env = nullptr) const {
    CompactRequest r;
    r.source_path = source_.string();
    r.destination_path = destination().string();
    r.read_ahead_from_rows = read_ahead_from;
    r.env = env;
    return r;
  }

  std::filesystem::path destination() const { return dir_ / "out.mdb"; }

  // Runs a request that may fail; a failure must be complete and clean.
  // True when it failed.
  bool failed_cleanly(const CompactRequest& r, int number, const std::string& what) {
    bool failed = false;
    try {
      compact_database(r);
    } catch (const Error& e) {
      failed = true;
      EXPECT_EQ(e.number(), number) << what << ": " << e.description();
      EXPECT_FALSE(e.source().empty()) << what;
      EXPECT_FALSE(std::filesystem::exists(destination())) << what;
    }
    EXPECT_EQ(testing::read_file(source_), before_) << what << ": source changed";
    std::filesystem::remove(destination());
    return failed;
  }

  ScratchDir dir_;
  std::filesystem::path source_;
  Bytes before_;
};

TEST_F(CompactReadAhead, GivesTheSameFileAsOneThread) {
  compact_database(request(kNeverReadAhead));
  const Bytes one_thread = testing::read_file(destination());
  std::filesystem::remove(destination());

  CompactRequest two_threads = request(kAlwaysReadAhead);
  two_threads.key_memory = 4096;  // keys set aside on the scratch file as well
  compact_database(two_threads);
  EXPECT_EQ(testing::read_file(destination()), one_thread);
}

// Long-value pages are first read by the reading thread, so faults there
// fail on it; others fail before the copy starts.
TEST_F(CompactReadAhead, ReadErrorAnywhereFailsCleanly) {
  const auto pages = static_cast<std::uint32_t>(before_.size() / kPageSize);
  ASSERT_GT(pages, 250u);
  std::uint32_t failures = 0;
  std::uint32_t tried = 0;
  for (std::uint32_t page = 1; page < pages; page += pages / 12, ++tried) {
    FaultInjectionEnv env(default_env());
    env.fail_read_page(page, kPageSize);
    env.only_in(source_.string());
    if (failed_cleanly(request(kAlwaysReadAhead, &env), errc::kDiskOrNetworkError, "page " + std::to_string(page))) {
      ++failures;
    }
  }
  // Most pages hold something the copy needs (not those of deleted rows'
  // long values).
  EXPECT_GT(failures, tried / 2);
}

// The closing check reads the new file back on two threads; a page it
// cannot read is a disk error (3043), not a damaged copy (3049).
TEST_F(CompactReadAhead, ReadErrorWhileTheCopyIsReadBackIsADiskError) {
  compact_database(request(kNeverReadAhead));
  const auto pages = static_cast<std::uint32_t>(std::filesystem::file_size(destination()) / kPageSize);
  std::filesystem::remove(destination());
  for (const std::uint32_t page : {pages / 3, pages - 1}) {
    FaultInjectionEnv env(default_env());
    env.fail_read_page(page, kPageSize);
    env.only_in(destination().string());
    EXPECT_TRUE(failed_cleanly(request(kAlwaysReadAhead, &env), errc::kDiskOrNetworkError,
                               "reading back page " + std::to_string(page)));
  }
}

// Index keys set aside on the scratch file are read back by a helper thread
// that merges them while the trees are laid out; a read error there ends
// the copy the same clean way, and the scratch files are gone.
TEST_F(CompactReadAhead, ReadErrorWhileMergingSortedKeysFailsCleanly) {
  FaultInjectionEnv env(default_env());
  env.fail_read_page(0, kPageSize);
  env.only_in(destination().string() + ".keys");
  CompactRequest r = request(kAlwaysReadAhead, &env);
  r.key_memory = 4096;
  EXPECT_TRUE(failed_cleanly(r, errc::kDiskOrNetworkError, "reading sorted keys back"));
  EXPECT_FALSE(std::filesystem::exists(destination().string() + ".keys"));
}

TEST_F(CompactReadAhead, WriteErrorAndFullDiskWhileRowsAreReadAheadFailCleanly) {
  compact_database(request(kNeverReadAhead));
  const std::uint64_t size = std::filesystem::file_size(destination());
  std::filesystem::remove(destination());
  for (const std::uint64_t at : {size / 4, size / 2 + 100, size - kPageSize}) {
    for (const bool disk_full : {false, true}) {
      FaultInjectionEnv env(default_env());
      env.fail_write_at(at, disk_full);
      EXPECT_TRUE(failed_cleanly(request(kAlwaysReadAhead, &env), disk_full ? errc::kDiskFull : errc::kDiskOrNetworkError,
                                 "write fault at " + std::to_string(at)));
    }
  }
}

}  // namespace
}  // namespace jet

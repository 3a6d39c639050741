// The POSIX file layer and the fault-injecting wrapper other tests rely on.
#include <gtest/gtest.h>

#include <cerrno>

#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/file/fault_injection_env.h"
#include "engine/file/file_errors.h"
#include "engine/tests/corpus_files.h"

namespace jet {
namespace {

using testing::ScratchDir;

int error_number(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    EXPECT_FALSE(e.description().empty());
    EXPECT_FALSE(e.source().empty());
    return e.number();
  }
  return 0;
}

TEST(PosixEnv, ReportsMissingExistingAndNonRegularFilesWithTheirNumbers) {
  ScratchDir dir;
  Env& env = default_env();
  std::string missing = (dir / "missing.mdb").string();
  EXPECT_EQ(error_number([&] { env.open_readable(missing); }), errc::kCouldNotFindFile);
  try {
    env.open_readable(missing);
  } catch (const Error& e) {
    EXPECT_EQ(e.description(), "Could not find file '" + missing + "'.");
  }
  EXPECT_EQ(error_number([&] { env.open_readable(dir.path().string()); }), errc::kUnrecognizedFormat);

  std::string existing = (dir / "a.mdb").string();
  env.create_exclusive(existing)->close();
  EXPECT_TRUE(env.file_exists(existing));
  EXPECT_EQ(error_number([&] { env.create_exclusive(existing); }), errc::kDatabaseAlreadyExists);
}

TEST(PosixEnv, WritesReadBackAndReadingPastTheEndIsDamage) {
  ScratchDir dir;
  Env& env = default_env();
  std::string path = (dir / "f").string();
  auto w = env.create_exclusive(path);
  const Bytes data{1, 2, 3, 4, 5};
  w->write(10, data.data(), data.size());
  w->append(data.data(), 2);
  EXPECT_EQ(w->size(), 17u);
  w->sync();
  w->close();

  auto r = env.open_readable(path);
  Bytes back(7);
  r->read(10, 7, back.data());
  EXPECT_EQ(back, (Bytes{1, 2, 3, 4, 5, 1, 2}));
  EXPECT_EQ(error_number([&] { r->read(15, 4, back.data()); }), errc::kCannotOpenDatabase);

  std::string moved = (dir / "g").string();
  env.rename(path, moved);
  env.sync_directory(dir.path().string());
  EXPECT_FALSE(env.file_exists(path));
  env.remove(moved);
  EXPECT_FALSE(env.file_exists(moved));
}

TEST(PosixEnv, LockConflictsWithAnotherHolderAndIsReleasedOnDestruction) {
  ScratchDir dir;
  Env& env = default_env();
  std::string path = (dir / "locked").string();
  env.create_exclusive(path)->close();
  {
    auto shared1 = env.lock_file(path, false);
    auto shared2 = env.lock_file(path, false);  // readers share
    EXPECT_EQ(error_number([&] { env.lock_file(path, true); }), errc::kDatabaseInUse);
  }
  auto exclusive = env.lock_file(path, true);
  EXPECT_EQ(error_number([&] { env.lock_file(path, false); }), errc::kDatabaseInUse);
}

TEST(ErrnoMapping, DiskFullAndOtherFailuresGetDistinctNumbers) {
  EXPECT_EQ(error_from_errno(ENOSPC, "x", "write").number(), errc::kDiskFull);
  EXPECT_EQ(error_from_errno(EACCES, "x", "open").number(), errc::kNoPermission);
  EXPECT_EQ(error_from_errno(EIO, "x", "read").number(), errc::kDiskOrNetworkError);
  Error damaged = damaged_file_error("/d/x.mdb", "row 3 on page 9");
  EXPECT_EQ(damaged.number(), errc::kCannotOpenDatabase);
  EXPECT_EQ(damaged.description(),
            "Cannot open database '/d/x.mdb'. It may not be a database that your application "
            "recognizes, or the file may be corrupt.");
  EXPECT_NE(damaged.source().find("row 3 on page 9"), std::string::npos);
}

TEST(FaultInjectionEnv, FailsReadsWritesAndSyncsOnCommand) {
  ScratchDir dir;
  FaultInjectionEnv env(default_env());
  std::string path = (dir / "f").string();
  const Bytes page(4096, 0xAB);

  auto w = env.create_exclusive(path);
  w->write(0, page.data(), page.size());
  env.fail_write_at(4096 + 100, /*disk_full=*/true);
  EXPECT_EQ(error_number([&] { w->write(4096, page.data(), page.size()); }), errc::kDiskFull);
  EXPECT_EQ(w->size(), 4096u + 100u);  // the bytes before the fault were written
  env.fail_sync();
  EXPECT_EQ(error_number([&] { w->sync(); }), errc::kDiskOrNetworkError);
  env.clear_faults();
  w->sync();
  w->close();
  EXPECT_EQ(env.syncs(), 2);

  auto r = env.open_readable(path);
  Bytes buf(4096);
  env.fail_read_page(1, 2048);
  EXPECT_EQ(error_number([&] { r->read(0, 4096, buf.data()); }), errc::kDiskOrNetworkError);
  r->read(0, 2048, buf.data());  // the page before is still readable

  env.fail_rename();
  EXPECT_EQ(error_number([&] { env.rename(path, path + ".x"); }), errc::kDiskOrNetworkError);
  EXPECT_TRUE(env.file_exists(path));
}

}  // namespace
}  // namespace jet

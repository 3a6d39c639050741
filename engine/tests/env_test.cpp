// The file layer: the POSIX Env, the in-memory Env that must fail the same
// way, and the fault-injecting wrapper other tests rely on.
#include <gtest/gtest.h>

#include <cerrno>

#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/file/fault_injection_env.h"
#include "engine/file/file_errors.h"
#include "engine/file/memory_env.h"
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

TEST(PosixEnv, NamesTheMissingFileAndRefusesAFolder) {
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
}

// The same cases run on the disk and in memory.
class EitherEnv : public ::testing::TestWithParam<bool> {
 protected:
  bool in_memory() const { return GetParam(); }
  Env& env() { return in_memory() ? static_cast<Env&>(memory_) : default_env(); }
  std::string at(const std::string& name) const { return (dir_ / name).string(); }
  std::string folder() const { return dir_.path().string(); }

 private:
  ScratchDir dir_;  // the in-memory Env uses the same names, never touching them
  MemoryEnv memory_;
};

TEST_P(EitherEnv, MissingAndExistingFilesGetTheirNumbers) {
  std::string missing = at("missing.mdb");
  EXPECT_EQ(error_number([&] { env().open_readable(missing); }), errc::kCouldNotFindFile);
  EXPECT_EQ(error_number([&] { env().open_writable(missing); }), errc::kCouldNotFindFile);
  EXPECT_EQ(error_number([&] { env().remove(missing); }), errc::kCouldNotFindFile);
  std::string existing = at("a.mdb");
  env().create_exclusive(existing)->close();
  EXPECT_TRUE(env().file_exists(existing));
  EXPECT_EQ(error_number([&] { env().create_exclusive(existing); }), errc::kDatabaseAlreadyExists);
}

TEST_P(EitherEnv, WritesReadBackAndReadingPastTheEndIsDamage) {
  Env& env = this->env();
  std::string path = at("f");
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

  std::string moved = at("g");
  env.rename(path, moved);
  env.sync_directory(folder());
  EXPECT_FALSE(env.file_exists(path));
  r->read(10, 7, back.data());  // an open file outlives its old name
  auto again = env.open_writable(moved);
  again->append(data.data(), 1);
  EXPECT_EQ(again->size(), 18u);
  again->close();
  EXPECT_EQ(error_number([&] { again->sync(); }), errc::kDiskOrNetworkError) << "closed";
  env.remove(moved);
  EXPECT_FALSE(env.file_exists(moved));
}

// Several blocks in one call land in their own buffers; a block reaching
// past the end is damage, as with read.
TEST_P(EitherEnv, BlocksReadIntoSeparateBuffers) {
  const std::string path = at("blocks");
  auto w = env().create_exclusive(path);
  Bytes data(40);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  w->append(data.data(), data.size());
  w->close();

  auto r = env().open_readable(path);
  Bytes a(8), b(8), c(8);
  std::uint8_t* targets[] = {a.data(), b.data(), c.data()};
  r->read_blocks(8, targets, 8);
  EXPECT_EQ(a, Bytes(data.begin() + 8, data.begin() + 16));
  EXPECT_EQ(b, Bytes(data.begin() + 16, data.begin() + 24));
  EXPECT_EQ(c, Bytes(data.begin() + 24, data.begin() + 32));
  EXPECT_EQ(error_number([&] { r->read_blocks(24, targets, 8); }), errc::kCannotOpenDatabase);
}

TEST_P(EitherEnv, HoldFindsAnotherHolderAndIsReleasedOnDestruction) {
  Env& env = this->env();
  std::string path = at("locked");
  env.create_exclusive(path)->close();
  EXPECT_EQ(error_number([&] { env.hold_file(at("missing"), true); }), errc::kCouldNotFindFile);
  auto first = env.hold_file(path, true);
  EXPECT_EQ(first->test(), LockState::kFree);
  EXPECT_EQ(first->test(), LockState::kFree) << "our own locks never count";
  {
    auto second = env.hold_file(path, false);
    EXPECT_EQ(second->test(), LockState::kHeld);
    EXPECT_EQ(first->test(), LockState::kFree) << "a hold that got nothing took nothing";
  }
  first.reset();
  auto third = env.hold_file(path, false);
  EXPECT_EQ(third->test(), LockState::kFree);
}

TEST(MemoryEnv, HoldsWhatIsPutAndRefusesEveryChangeOnceReadOnly) {
  MemoryEnv env;
  env.put("/m/a.mdb", Bytes{1, 2, 3});
  EXPECT_EQ(env.contents("/m/a.mdb"), (Bytes{1, 2, 3}));
  EXPECT_FALSE(env.contents("/m/b.mdb"));
  auto w = env.open_writable("/m/a.mdb");
  env.set_read_only(true);
  EXPECT_EQ(error_number([&] { w->write(0, Bytes{9}.data(), 1); }), errc::kNoPermission);
  EXPECT_EQ(error_number([&] { env.create_exclusive("/m/b.mdb"); }), errc::kNoPermission);
  EXPECT_EQ(error_number([&] { env.open_writable("/m/a.mdb"); }), errc::kNoPermission);
  EXPECT_EQ(error_number([&] { env.remove("/m/a.mdb"); }), errc::kNoPermission);
  EXPECT_EQ(error_number([&] { env.rename("/m/a.mdb", "/m/c.mdb"); }), errc::kNoPermission);
  EXPECT_EQ(env.contents("/m/a.mdb"), (Bytes{1, 2, 3}));
  Bytes back(3);
  env.open_readable("/m/a.mdb")->read(0, 3, back.data());
  EXPECT_EQ(back, (Bytes{1, 2, 3}));
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

TEST_P(EitherEnv, FaultInjectionOverItFailsReadsWritesAndSyncsOnCommand) {
  FaultInjectionEnv env(this->env());
  std::string path = at("f");
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

INSTANTIATE_TEST_SUITE_P(Envs, EitherEnv, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return std::string(p.param ? "Memory" : "Posix"); });

}  // namespace
}  // namespace jet

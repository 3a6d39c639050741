// maintain killed at random points: every database path must hold a whole
// database, the old one or the new, and the next run must finish the work
// and clear what the killed one left.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "tools/quillmar-db/tests/maintain_test_support.h"

extern char** environ;

namespace quillmar_db {
namespace {

using namespace quillmar_db::testing;

const std::vector<std::string> kSamples = {"jet4/testV2003.mdb", "ace/a033.accdb", "wild/w075.mdb",
                                           "ace/a007.accdb", "jet3/testV1997.mdb", "ace/a027.accdb"};

pid_t start_maintain(const fs::path& folder) {
  std::vector<std::string> args = {QUILLMAR_DB_PROGRAM, "maintain", "--keep", "1", folder.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int wait_for(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<fs::path> copy_samples(const fs::path& folder) {
  std::vector<fs::path> paths;
  for (std::size_t i = 0; i < kSamples.size(); ++i) {
    paths.push_back(copy_sample(kSamples[i], folder / (std::to_string(i) + fs::path(kSamples[i]).extension().string())));
  }
  return paths;
}

TEST(MaintainKilled, EveryPathHoldsAWholeDatabaseAndTheNextRunFinishes) {
  REQUIRE_MAINTAIN_CORPUS();
  for (const auto& sample : kSamples) {
    if (!fs::exists(jet::testing::corpus_dir() / sample)) GTEST_SKIP() << "sample absent: " << sample;
  }
  std::vector<std::map<std::string, std::uint32_t>> expected;
  for (const auto& sample : kSamples) expected.push_back(table_rows(jet::testing::corpus_dir() / sample));

  // How long a whole run takes, to spread the kills over it.
  jet::testing::ScratchDir timing;
  copy_samples(timing.path());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(wait_for(start_maintain(timing.path())), 0);
  const auto whole = std::chrono::steady_clock::now() - start;

  constexpr int kKills = 8;
  for (int k = 1; k <= kKills; ++k) {
    const auto at = whole * k / (kKills + 1);
    SCOPED_TRACE("killed after " + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(at).count()) +
                 " ms");
    jet::testing::ScratchDir dir;
    const std::vector<fs::path> paths = copy_samples(dir.path());
    const pid_t pid = start_maintain(dir.path());
    std::this_thread::sleep_for(at);
    ::kill(pid, SIGKILL);
    wait_for(pid);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(table_rows(paths[i]), expected[i]) << paths[i];
    }

    ASSERT_EQ(wait_for(start_maintain(dir.path())), 0);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(table_rows(paths[i]), expected[i]) << paths[i];
    }
    for (const fs::path& file : files_in(dir.path())) {
      const std::string name = file.filename().string();
      EXPECT_FALSE(name.find(".quillmar-new") != std::string::npos || name.starts_with(".partial-")) << file;
    }
  }
}

}  // namespace
}  // namespace quillmar_db

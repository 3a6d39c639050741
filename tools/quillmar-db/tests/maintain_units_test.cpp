// maintain's pieces that need no database: its options, backup names and
// their order, pruning, and JSON strings.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/tests/corpus_files.h"
#include "tools/quillmar-db/cli_args.h"
#include "tools/quillmar-db/maintain_backup.h"
#include "tools/quillmar-db/maintain_report.h"

namespace quillmar_db {
namespace {

namespace fs = std::filesystem;

CliArgs parse(std::vector<std::string_view> args) { return parse_args(args); }

TEST(MaintainArgs, OptionsAreParsed) {
  const CliArgs a = parse({"maintain", "-r", "--keep=3", "--backup-dir", "/b", "--no-repair", "--json", "-n", "x", "y"});
  EXPECT_EQ(a.command, Command::Maintain);
  EXPECT_EQ(a.operands, (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(a.maintain.recursive);
  EXPECT_EQ(a.maintain.keep, 3u);
  EXPECT_EQ(a.maintain.backup_dir, "/b");
  EXPECT_FALSE(a.maintain.repair);
  EXPECT_TRUE(a.maintain.json);
  EXPECT_TRUE(a.maintain.dry_run);

  const CliArgs defaults = parse({"maintain", "x"});
  EXPECT_EQ(defaults.maintain.keep, 7u);
  EXPECT_TRUE(defaults.maintain.repair);
  EXPECT_FALSE(defaults.maintain.backup_dir.has_value());
}

TEST(MaintainArgs, MistakesAreUsageErrors) {
  const std::vector<std::vector<std::string_view>> mistakes = {
      {"maintain"},                                  // nothing to do
      {"maintain", "--keep", "0", "x"},              // would remove the backup just made
      {"maintain", "--keep", "two", "x"},
      {"maintain", "--keep=-1", "x"},
      {"maintain", "--keep"},
      {"maintain", "--backup-dir=", "x"},
      {"maintain", "--sort-order", "general", "x"},  // a decision per file
      {"compact", "--keep", "2", "a", "b"},          // maintain's options only for maintain
      {"check", "--recursive", "a"},
  };
  for (const auto& args : mistakes) {
    try {
      parse(args);
      ADD_FAILURE() << "accepted: " << ::testing::PrintToString(args);
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.number(), kInvalidArgument);
      EXPECT_EQ(e.source(), kUsageSource);
    }
  }
}

TEST(MaintainBackup, NamesAreTheWindowsAndSortByTime) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 7;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 33;
  EXPECT_EQ(backup_file_name(t, ".mdb"), "backup07-12-2026_09-05-33.mdb");
  EXPECT_EQ(backup_file_name(t, ".accdb", 2), "backup07-12-2026_09-05-33_2.accdb");

  // Day first in the name, so the order is not the names' own.
  const std::vector<std::string> oldest_first = {
      "backup31-12-2025_23-59-59.mdb", "backup01-01-2026_00-00-00.mdb", "backup01-01-2026_00-00-00_2.mdb",
      "backup01-01-2026_00-00-00_10.mdb", "backup02-01-2026_00-00-00.mdb"};
  for (std::size_t i = 0; i + 1 < oldest_first.size(); ++i) {
    EXPECT_LT(*backup_sort_key(oldest_first[i], ".mdb"), *backup_sort_key(oldest_first[i + 1], ".mdb"))
        << oldest_first[i];
  }
  for (const char* other : {"backup31-12-2025_23-59-59.accdb", "stock.mdb", "backup31-12-2025_23-59.mdb",
                            "backup31-12-2025_23-59-59_x.mdb", ".partial-backup31-12-2025_23-59-59.mdb"}) {
    EXPECT_FALSE(backup_sort_key(other, ".mdb").has_value()) << other;
  }
}

TEST(MaintainBackup, PruningKeepsTheNewestAndOnlyTouchesBackups) {
  jet::testing::ScratchDir dir;
  const std::vector<std::string> names = {"backup02-01-2026_00-00-00.mdb", "backup31-12-2025_23-59-59.mdb",
                                          "backup01-01-2026_00-00-00.mdb", "backup01-01-2026_00-00-00_2.mdb",
                                          ".partial-backup03-01-2026_00-00-00.mdb", "notes.txt",
                                          "backup01-01-2026_00-00-00.accdb"};
  for (const auto& name : names) std::ofstream(dir / name) << "x";
  prune_backups(jet::default_env(), dir.path().string(), ".mdb", 2);
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path())) left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"backup02-01-2026_00-00-00.mdb", "backup01-01-2026_00-00-00_2.mdb",
                                         "notes.txt", "backup01-01-2026_00-00-00.accdb"}));
}

TEST(MaintainReport, JsonStringsAreEscaped) {
  EXPECT_EQ(json_string("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\nd\\u0001\"");
  EXPECT_EQ(json_string("Größe"), "\"Größe\"");
}

}  // namespace
}  // namespace quillmar_db

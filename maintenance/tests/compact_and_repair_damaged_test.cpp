// The run with the real engine on damaged copies of a sample database: a
// file the engine can repair ends in the success box with the repaired
// copy in place; one it cannot ends in the failure boxes with the file and
// its backup as they were.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/read/database.h"
#include "maintenance/compact_and_repair.h"
#include "maintenance/tests/fake_window.h"
#include "platform/file_system_object.h"
#include "platform/testing/scripted_message_boxes.h"
#include "platform/testing/temp_folder.h"
#include "platform/text.h"

namespace quillmar::maintenance {
namespace {

namespace fs = std::filesystem;
using platform::testing::ReadFile;
using platform::testing::TempFolder;

fs::path Sample() {
  const char* shared = std::getenv("QUILLMAR_SHARED");
  return (shared != nullptr ? fs::path(shared) : fs::path(QUILLMAR_SOURCE_DIR) / ".." / "shared") / "corpus" /
         "wild" / "w133.mdb";
}

class FixedClock : public platform::Clock {
 public:
  platform::LocalDateTime Now() const override { return {2026, 12, 9, 10, 15, 0}; }
};

class DamagedFileTest : public ::testing::Test {
 protected:
  DamagedFileTest() {
    registry.Register(platform::kFileSystemObjectId, [] { return std::make_shared<platform::FileSystemObject>(); });
    window.caption = platform::FromUtf8(database().string());
  }

  fs::path database() const { return root.path() / "stock.mdb"; }
  fs::path backup() const { return root.path() / "backup09-12-2026_10-15-00.mdb"; }

  // Puts a copy of the sample in place with `page` overwritten by zeros.
  void PlaceWithZeroedPage(std::uint32_t page) {
    fs::copy_file(Sample(), database());
    std::string bytes = ReadFile(database());
    std::fill_n(bytes.begin() + std::ptrdiff_t{page} * 4096, 4096, '\0');
    platform::testing::WriteFile(database(), bytes);
    damaged = bytes;
  }

  void Click() {
    fs::current_path(root.path());
    CompactAndRepair(window, {boxes, clock, registry, host, deletion, record});
  }

  // A run that repairs: the success box, and the damaged file kept as the backup.
  void ClickExpectingRepair() {
    Click();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown.back().text, u"Database repaired and compressed OK.");
    EXPECT_EQ(ReadFile(backup()), damaged);
  }

  TempFolder root;
  platform::testing::CurrentDirectoryGuard restore;
  testing::FakeWindow window;
  platform::testing::ScriptedMessageBoxes boxes;
  FixedClock clock;
  platform::ComponentRegistry registry;
  platform::DbEngineHost host;  // the real engine
  platform::PosixFileDeletion deletion;
  platform::FailureRecord record;
  std::string damaged;
};

TEST_F(DamagedFileTest, ADataPageOfZerosIsRepairedAndLogged) {
  if (!fs::exists(Sample())) GTEST_SKIP() << "sample database absent: " << Sample();
  std::uint32_t victim = 0;
  {
    auto db = jet::Database::open(Sample().string());
    const auto pages = db->table_pages(db->table("Order Details"));
    victim = pages[pages.size() / 2];
  }
  PlaceWithZeroedPage(victim);
  ClickExpectingRepair();
  auto repaired = jet::Database::open(database().string());
  std::size_t logged = 0;
  repaired->scan_rows(repaired->table("MSysCompactError"), [&](jet::RowPointer, const jet::Row&) { ++logged; });
  EXPECT_EQ(logged, 1u);
}

TEST_F(DamagedFileTest, CatalogRowsLostWithTheirPageAreRepairedAndTheTablesKept) {
  if (!fs::exists(Sample())) GTEST_SKIP() << "sample database absent: " << Sample();
  std::uint32_t victim = 0;
  std::size_t tables = 0;
  {
    auto db = jet::Database::open(Sample().string());
    victim = db->table_pages(db->table("MSysObjects")).front();
    tables = db->tables().size();
  }
  PlaceWithZeroedPage(victim);
  ClickExpectingRepair();
  // Every table is still there, those whose names were lost under the
  // number of their page, beside the log.
  auto repaired = jet::Database::open(database().string());
  EXPECT_EQ(repaired->tables().size(), tables + 1);
  EXPECT_NO_THROW(repaired->table("MSysCompactError"));
}

TEST_F(DamagedFileTest, ADamagedCatalogFailsAndLeavesFileAndBackupAsTheyWere) {
  if (!fs::exists(Sample())) GTEST_SKIP() << "sample database absent: " << Sample();
  PlaceWithZeroedPage(2);  // the catalog's definition
  Click();
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[1].text, u"Unable to compress and/or repair database!");
  EXPECT_EQ(boxes.shown[2].text.rfind(u"Error# = 3049\r\n", 0), 0u) << platform::ToUtf8(boxes.shown[2].text);
  EXPECT_EQ(ReadFile(database()), damaged);
  EXPECT_EQ(ReadFile(backup()), damaged);
}

}  // namespace
}  // namespace quillmar::maintenance

// The run with the real file-system object and file deletion on a temporary
// folder; the engine is scripted (it writes a marked copy), except where a
// database in use must be refused by the real one.
#include <gtest/gtest.h>

#include "engine/builder/database_builder.h"
#include "engine/error.h"
#include "engine/format/lock_file_users.h"
#include "engine/tests/lock_holder_process.h"
#include "maintenance/compact_and_repair.h"
#include "maintenance/tests/fake_window.h"
#include "platform/file_system_object.h"
#include "platform/testing/scripted_message_boxes.h"
#include "platform/text.h"
#include "platform/testing/temp_folder.h"

namespace quillmar::maintenance {
namespace {

using platform::testing::ListFolder;
using platform::testing::ReadFile;
using platform::testing::TempFolder;
using platform::testing::WriteFile;

class FixedClock : public platform::Clock {
 public:
  platform::LocalDateTime Now() const override { return {2026, 12, 7, 9, 5, 33}; }
};

class RealFilesTest : public ::testing::Test {
 protected:
  RealFilesTest() {
    registry.Register(platform::kFileSystemObjectId,
                      [] { return std::make_shared<platform::FileSystemObject>(); });
    std::filesystem::create_directory(db_folder());
    std::filesystem::create_directory(other_folder());
    WriteFile(db_folder() / "stock.mdb", "original");
    window.caption = platform::FromUtf8((db_folder() / "stock.mdb").string());
  }

  std::filesystem::path db_folder() const { return root / "data"; }
  std::filesystem::path other_folder() const { return root / "elsewhere"; }

  void Click() { CompactAndRepair(window, {boxes, clock, registry, host, deletion, record}); }

  TempFolder root;
  platform::testing::CurrentDirectoryGuard restore;
  testing::FakeWindow window;
  platform::testing::ScriptedMessageBoxes boxes;
  FixedClock clock;
  platform::ComponentRegistry registry;
  // The real engine object with a compactor that marks its copy.
  platform::DbEngineHost host{[] {
    return std::make_shared<platform::JetDbEngine>([](const jet::CompactRequest& request) {
      WriteFile(request.destination_path, "compacted " + ReadFile(request.source_path));
      return jet::CompactResult{};
    });
  }};
  platform::PosixFileDeletion deletion;
  platform::FailureRecord record;
};

TEST_F(RealFilesTest, BackupBesideTheDatabaseWhenItsFolderIsCurrent) {
  std::filesystem::current_path(db_folder());
  Click();
  EXPECT_EQ(boxes.shown.back().text, u"Database repaired and compressed OK.");
  EXPECT_EQ(ListFolder(db_folder()), (std::vector<std::string>{"backup07-12-2026_09-05-33.mdb", "stock.mdb"}));
  EXPECT_EQ(ReadFile(db_folder() / "stock.mdb"), "compacted original");
  EXPECT_EQ(ReadFile(db_folder() / "backup07-12-2026_09-05-33.mdb"), "original");
}

TEST_F(RealFilesTest, BackupAndTemporaryFileGoToTheCurrentDirectory) {
  std::filesystem::current_path(other_folder());
  Click();
  EXPECT_EQ(ListFolder(db_folder()), std::vector<std::string>{"stock.mdb"});
  EXPECT_EQ(ListFolder(other_folder()), std::vector<std::string>{"backup07-12-2026_09-05-33.mdb"});
  EXPECT_EQ(ReadFile(db_folder() / "stock.mdb"), "compacted original");
}

TEST_F(RealFilesTest, SameSecondRunsShareTheBackupName) {
  std::filesystem::current_path(other_folder());
  Click();
  Click();
  EXPECT_EQ(ReadFile(other_folder() / "backup07-12-2026_09-05-33.mdb"), "compacted original");
  EXPECT_EQ(ReadFile(db_folder() / "stock.mdb"), "compacted compacted original");
}

TEST_F(RealFilesTest, LeftOverTemporaryFileStopsTheEngineAndStays) {
  std::filesystem::current_path(other_folder());
  WriteFile(other_folder() / "temp.mdb", "someone's file");
  Click();
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[2].text, u"Error# = 3204\r\nDescription = Database already exists.\r\nSource = Quillmar Jet engine");
  EXPECT_EQ(ReadFile(other_folder() / "temp.mdb"), "someone's file");
  EXPECT_EQ(ReadFile(db_folder() / "stock.mdb"), "original");
  EXPECT_EQ(ReadFile(other_folder() / "backup07-12-2026_09-05-33.mdb"), "original");
}

TEST_F(RealFilesTest, ADatabaseNamedLikeTheTemporaryFileIsNeverLost) {
  std::filesystem::current_path(db_folder());
  std::filesystem::rename(db_folder() / "stock.mdb", db_folder() / "temp.mdb");
  window.caption = platform::FromUtf8((db_folder() / "temp.mdb").string());
  Click();
  EXPECT_EQ(boxes.shown[1].text, u"Unable to compress and/or repair database!");
  EXPECT_EQ(ReadFile(db_folder() / "temp.mdb"), "original");
  EXPECT_EQ(window.pointers.back(), 0);
}

TEST_F(RealFilesTest, ADatabaseNamedLikeItsBackupIsNeverLost) {
  std::filesystem::current_path(db_folder());
  std::filesystem::rename(db_folder() / "stock.mdb", db_folder() / "backup07-12-2026_09-05-33.mdb");
  window.caption = platform::FromUtf8((db_folder() / "backup07-12-2026_09-05-33.mdb").string());
  Click();
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[2].text, u"Error# = 70\r\nDescription = Permission denied\r\nSource = Quillmar");
  EXPECT_EQ(ListFolder(db_folder()), std::vector<std::string>{"backup07-12-2026_09-05-33.mdb"});
  EXPECT_EQ(ReadFile(db_folder() / "backup07-12-2026_09-05-33.mdb"), "original");
}

TEST_F(RealFilesTest, MissingDatabaseFailsAtTheBackupCopy) {
  std::filesystem::current_path(other_folder());
  window.caption = platform::FromUtf8((db_folder() / "gone.mdb").string());
  Click();
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[2].text, u"Error# = 53\r\nDescription = File not found\r\nSource = Quillmar");
  EXPECT_TRUE(ListFolder(other_folder()).empty());
  EXPECT_FALSE(host.Created());
}

// Another process (Access through Samba, say) holds a lock on the database:
// the real engine refuses it with 3356, naming the user its .ldb lists, and
// the run ends in the failure boxes with the database and its backup as they
// were and no temporary file. Once the lock is gone the same run compacts.
TEST_F(RealFilesTest, ADatabaseInUseEndsInTheFailureBoxesAndIsLeftAsItWas) {
  std::filesystem::current_path(db_folder());
  const std::filesystem::path database = db_folder() / "stock.mdb";
  std::filesystem::remove(database);
  {
    jet::build::DatabaseBuilder builder(database.string());
    builder.finish();
  }
  const std::string original = ReadFile(database);
  const jet::Bytes entry = jet::lock_file_entry({"FRONTDESK-PC", "Admin"});
  WriteFile(db_folder() / "stock.ldb", std::string(entry.begin(), entry.end()));
  platform::DbEngineHost real_engine;
  const auto click = [&] { CompactAndRepair(window, {boxes, clock, registry, real_engine, deletion, record}); };

  jet::testing::LockHolder other("ofd", false, database, 0x7FFFFF00, 1);
  ASSERT_TRUE(other.held()) << other.answer();
  click();
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[1].text, u"Unable to compress and/or repair database!");
  EXPECT_EQ(boxes.shown[2].text, u"Error# = 3356\r\nDescription = The database '" + window.caption +
                                     u"' is in use by FRONTDESK-PC (Admin); close it there before compacting."
                                     u"\r\nSource = Quillmar Jet engine");
  EXPECT_EQ(ListFolder(db_folder()),
            (std::vector<std::string>{"backup07-12-2026_09-05-33.mdb", "stock.ldb", "stock.mdb"}));
  EXPECT_EQ(ReadFile(database), original);
  EXPECT_EQ(ReadFile(db_folder() / "backup07-12-2026_09-05-33.mdb"), original);
  EXPECT_EQ(window.pointers.back(), 0);

  other.release();
  boxes.shown.clear();
  click();
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text, u"Database repaired and compressed OK.");
  EXPECT_EQ(ReadFile(db_folder() / "backup07-12-2026_09-05-33.mdb"), original);
}

}  // namespace
}  // namespace quillmar::maintenance

// The whole program off screen: the real window, dialog, file-system object,
// deletion, clock and engine, on a temporary folder. The files afterwards
// must be those the run promises: a compacted database in place and its
// backup beside it, or, when the engine refuses, the database untouched and
// its backup beside it.
#include <gtest/gtest.h>

#include <QDialog>
#include <cstdio>
#include <map>
#include <regex>

#include "app/program.h"
#include "app/tests/modal_driver.h"
#include "engine/error.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"
#include "engine/tests/lock_holder_process.h"
#include "maintenance/testing/protected_database.h"
#include "platform/testing/temp_folder.h"
#include "platform/text.h"

namespace quillmar::app {
namespace {

namespace fs = std::filesystem;
using platform::MessageIcon;
using platform::testing::ListFolder;
using platform::testing::ReadFile;
using platform::testing::ShownBox;

fs::path Corpus() {
  const char* shared = std::getenv("QUILLMAR_SHARED");
  return (shared != nullptr ? fs::path(shared) : fs::path(QUILLMAR_SOURCE_DIR) / ".." / "shared") / "corpus";
}

class EndToEnd : public ::testing::Test {
 protected:
  // Puts content at data/stock.mdb, chooses it in the dialog and compacts it.
  // `meanwhile` runs once the file is there.
  void Run(const std::string& content, const std::function<void()>& meanwhile = {}) {
    original = content;
    platform::testing::WriteFile(data / "stock.mdb", original);
    if (meanwhile) meanwhile();
    fs::current_path(start.path());

    Program program;
    frmCompact& window = program.window();
    window.ShowCentred();
    testing::ModalDriver driver;
    driver.on_file_dialog = [&](QFileDialog& dialog) {
      dialog.selectFile(QString::fromStdString((data / "stock.mdb").string()));
      static_cast<QDialog&>(dialog).accept();
    };

    window.cmdBrowse->click();
    ASSERT_EQ(window.lblFileCaption(), platform::FromUtf8((data / "stock.mdb").string()));
    ASSERT_TRUE(driver.boxes.empty());
    EXPECT_EQ(fs::current_path(), data.path()) << "the dialog moves to the database's folder";

    window.cmdCompact->click();
    boxes = driver.boxes;
    backup = platform::ToUtf8(window.strBackupFile);
    EXPECT_TRUE(std::regex_match(backup, std::regex(R"(backup\d\d-\d\d-\d{4}_\d\d-\d\d-\d\d\.mdb)")));
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], (ShownBox{u"Your old file will be copied to " + window.strBackupFile +
                                      u".  This may take few seconds... ",
                                  MessageIcon::kNone, u"Quillmar"}));
    EXPECT_EQ(window.GetMousePointer(), 0);
    EXPECT_TRUE(ListFolder(start.path()).empty());
    EXPECT_EQ(ReadFile(data / backup), original);
    std::printf("end-to-end outcome: %s\n", platform::ToUtf8(boxes.back().text).c_str());
  }

  // `format` is the name in the header: the copy keeps the source's format.
  void ExpectCompacted(const std::string& format = "Standard Jet DB") {
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], (ShownBox{u"Database repaired and compressed OK.", MessageIcon::kInformation,
                                  u"Compact & Repair"}));
    EXPECT_EQ(ListFolder(data.path()), (std::vector<std::string>{backup, "stock.mdb"}));
    const std::string compacted = ReadFile(data / "stock.mdb");
    ASSERT_GE(compacted.size(), 4096u);
    EXPECT_EQ(compacted.substr(4, 15), format);
  }

  void ExpectRefused() {
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1], (ShownBox{u"Unable to compress and/or repair database!", MessageIcon::kCritical, u"Error"}));
    EXPECT_EQ(boxes[2].title, u"Program Error!");
    EXPECT_EQ(boxes[2].text.rfind(u"Error# = ", 0), 0u);
    EXPECT_NE(boxes[2].text.find(u"\nDescription = "), std::u16string::npos);
    EXPECT_NE(boxes[2].text.find(u"\nSource = "), std::u16string::npos);
    EXPECT_EQ(ReadFile(data / "stock.mdb"), original);
    std::vector<std::string> files = ListFolder(data.path());
    std::erase(files, "temp.mdb");  // the engine may leave it
    EXPECT_EQ(files, (std::vector<std::string>{backup, "stock.mdb"}));
  }

  platform::testing::CurrentDirectoryGuard restore;
  platform::testing::TempFolder start;
  platform::testing::TempFolder data;
  std::string original;
  std::vector<ShownBox> boxes;
  std::string backup;
};

TEST_F(EndToEnd, CompactsASampleDatabase) {
  const fs::path sample = Corpus() / "jet4" / "emptyJet4.mdb";
  if (!fs::exists(sample)) GTEST_SKIP() << "sample databases not found at " << sample;
  Run(ReadFile(sample));
  ExpectCompacted();
}

TEST_F(EndToEnd, CompactsADatabaseProtectedWithOurPassword) {
  const fs::path sample = Corpus() / "jet4" / "emptyJet4.mdb";
  if (!fs::exists(sample)) GTEST_SKIP() << "sample databases not found at " << sample;
  platform::testing::TempFolder work;
  maintenance::testing::BuildProtectedDatabase(sample.string(), (work / "protected.mdb").string());
  Run(ReadFile(work / "protected.mdb"));
  ExpectCompacted();

  // The result still needs the password: without it the engine refuses.
  jet::CompactRequest without_password;
  without_password.source_path = (data / "stock.mdb").string();
  without_password.destination_path = (work / "copy.mdb").string();
  EXPECT_THROW(jet::compact_database(without_password), jet::Error);
}

// The window always asks for the General order: databases in other
// collating orders are converted, with every table's rows kept.
TEST_F(EndToEnd, DatabasesInOtherCollatingOrdersBecomeGeneral) {
  for (const char* name : {"w017.mdb", "w077.mdb", "w045.mdb", "w009.mdb"}) {
    SCOPED_TRACE(name);
    const fs::path sample = Corpus() / "wild" / name;
    if (!fs::exists(sample)) GTEST_SKIP() << "sample databases not found at " << sample;
    Run(ReadFile(sample));
    ExpectCompacted();
    auto before = jet::Database::open(sample.string(), jet::OpenOptions{});
    auto after = jet::Database::open((data / "stock.mdb").string(), jet::OpenOptions{});
    EXPECT_NE(before->header().sort_order & 0xFFFF, 0x0409u);
    EXPECT_EQ(after->header().sort_order & 0xFFFF, 0x0409u);
    std::map<std::string, std::uint32_t> rows_before, rows_after;
    for (const jet::TableDef& t : before->tables()) {
      if (!t.is_system()) rows_before[t.name] = t.row_count;
    }
    for (const jet::TableDef& t : after->tables()) {
      if (!t.is_system()) rows_after[t.name] = t.row_count;
    }
    EXPECT_EQ(rows_after, rows_before);
    fs::remove(data / "stock.mdb");
    fs::remove(data / backup);
  }
}

// An ACE file (Access 2007) called ".mdb", as some are: the window takes it
// by its name and the copy holds the same data, seen by two other readers.
TEST_F(EndToEnd, CompactsAnAceFileNamedMdb) {
  const fs::path sample = Corpus() / "wild" / "w057.mdb";
  if (!fs::exists(sample)) GTEST_SKIP() << "sample databases not found at " << sample;
  Run(ReadFile(sample));
  ExpectCompacted("Standard ACE DB");

  if (!fs::exists(jet::testing::jetdiff_tool())) {
    GTEST_SKIP() << "jetdiff not found at " << jet::testing::jetdiff_tool() << "; data not compared";
  }
  platform::testing::TempFolder work;
  const int diff = jet::testing::run_jetdiff(sample, data / "stock.mdb", std::nullopt, work / "jetdiff.log");
  if (diff == -1) GTEST_SKIP() << "jetdiff could not run";
  EXPECT_EQ(diff, 0) << ReadFile(work / "jetdiff.log");
}

// An ACE file encrypted with a password: refused (3031), never changed.
TEST_F(EndToEnd, AnEncryptedAceFileIsRefusedAndKeepsItsBackup) {
  const fs::path sample = Corpus() / "ace-encrypted" / "V2010_with-password.accdb";
  if (!fs::exists(sample)) GTEST_SKIP() << "sample databases not found at " << sample;
  Run(ReadFile(sample));
  ExpectRefused();
  EXPECT_EQ(boxes[2].text.rfind(u"Error# = 3031\n", 0), 0u) << platform::ToUtf8(boxes[2].text);
}

TEST_F(EndToEnd, ADatabaseWithAnotherPasswordKeepsItsBackup) {
  const fs::path sample = Corpus() / "password" / "V2000_with-password.mdb";
  if (!fs::exists(sample)) GTEST_SKIP() << "sample databases not found at " << sample;
  Run(ReadFile(sample));
  ExpectRefused();
}

TEST_F(EndToEnd, ADatabaseSomeoneHasOpenIsRefusedAndLeavesNoTemporaryFile) {
  const fs::path sample = Corpus() / "jet4" / "emptyJet4.mdb";
  if (!fs::exists(sample)) GTEST_SKIP() << "sample databases not found at " << sample;
  std::unique_ptr<jet::testing::LockHolder> other;
  Run(ReadFile(sample), [&] { other = std::make_unique<jet::testing::LockHolder>("flock", false, data / "stock.mdb"); });
  ASSERT_TRUE(other->held()) << other->answer();
  ExpectRefused();
  // The Qt box shows the record's line breaks as plain "\n".
  EXPECT_EQ(boxes[2].text, u"Error# = 3356\nDescription = The database '" +
                               platform::FromUtf8((data / "stock.mdb").string()) +
                               u"' is in use by another process; close it there before compacting.\nSource = "
                               u"Quillmar Jet engine");
  EXPECT_FALSE(fs::exists(data / "temp.mdb"));
}

TEST_F(EndToEnd, BytesThatAreNoDatabaseKeepTheirBackup) {
  Run(std::string(4096, 'q'));
  ExpectRefused();
}

}  // namespace
}  // namespace quillmar::app

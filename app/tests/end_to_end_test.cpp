// The whole program off screen: the real window, dialog, file-system object,
// deletion, clock and engine, on a temporary folder. Whatever the engine can
// do today, the files afterwards must be those the run promises: a compacted
// database in place and its backup beside it, or, if the engine fails, the
// database untouched and its backup beside it.
#include <gtest/gtest.h>

#include <QDialog>
#include <regex>

#include "app/program.h"
#include "app/tests/modal_driver.h"
#include "platform/testing/temp_folder.h"
#include "platform/text.h"

namespace quillmar::app {
namespace {

namespace fs = std::filesystem;
using platform::testing::ListFolder;
using platform::testing::ReadFile;

fs::path SharedFolder() {
  if (const char* shared = std::getenv("QUILLMAR_SHARED")) return shared;
  return fs::path(QUILLMAR_SOURCE_DIR) / ".." / "shared";
}

// A real Jet 4 database when the sample corpus is there; otherwise bytes
// that are no database, which the engine must refuse.
std::string SampleDatabase() {
  const fs::path sample = SharedFolder() / "corpus" / "jet4" / "emptyJet4.mdb";
  if (fs::exists(sample)) return ReadFile(sample);
  return std::string(4096, 'q');
}

TEST(EndToEnd, ChooseThenCompactInTheRealWindow) {
  platform::testing::CurrentDirectoryGuard restore;
  platform::testing::TempFolder start;
  platform::testing::TempFolder data;
  const std::string original = SampleDatabase();
  platform::testing::WriteFile(data / "stock.mdb", original);
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
  const std::u16string backup = window.strBackupFile;
  EXPECT_TRUE(std::regex_match(platform::ToUtf8(backup),
                               std::regex(R"(backup\d\d-\d\d-\d{4}_\d\d-\d\d-\d\d\.mdb)")));
  ASSERT_GE(driver.boxes.size(), 2u);
  EXPECT_EQ(driver.boxes[0].text, u"Your old file will be copied to " + backup + u".  This may take few seconds... ");
  EXPECT_EQ(window.GetMousePointer(), 0);
  EXPECT_TRUE(ListFolder(start.path()).empty());
  EXPECT_EQ(ReadFile(data / platform::ToUtf8(backup)), original);

  if (driver.boxes[1].text == u"Database repaired and compressed OK.") {
    EXPECT_EQ(driver.boxes.size(), 2u);
    EXPECT_EQ(driver.boxes[1].title, u"Compact & Repair");
    EXPECT_EQ(ListFolder(data.path()), (std::vector<std::string>{platform::ToUtf8(backup), "stock.mdb"}));
    const std::string compacted = ReadFile(data / "stock.mdb");
    ASSERT_GE(compacted.size(), 4096u);
    EXPECT_EQ(compacted.substr(4, 15), "Standard Jet DB");
    EXPECT_EQ(compacted.size() % 4096, 0u);
  } else {
    ASSERT_EQ(driver.boxes.size(), 3u);
    EXPECT_EQ(driver.boxes[1], (platform::testing::ShownBox{u"Unable to compress and/or repair database!",
                                                            platform::MessageIcon::kCritical, u"Error"}));
    EXPECT_EQ(driver.boxes[2].title, u"Program Error!");
    EXPECT_EQ(driver.boxes[2].text.rfind(u"Error# = ", 0), 0u);
    EXPECT_NE(driver.boxes[2].text.find(u"\nDescription = "), std::u16string::npos);
    EXPECT_NE(driver.boxes[2].text.find(u"\nSource = "), std::u16string::npos);
    EXPECT_EQ(ReadFile(data / "stock.mdb"), original);
    std::vector<std::string> files = ListFolder(data.path());
    std::erase(files, "temp.mdb");  // the engine may leave it
    EXPECT_EQ(files, (std::vector<std::string>{platform::ToUtf8(backup), "stock.mdb"}));
  }
}

}  // namespace
}  // namespace quillmar::app

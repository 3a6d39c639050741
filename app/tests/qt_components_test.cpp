// The Qt-backed message boxes and file dialog, driven off screen.
#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>

#include "app/tests/modal_driver.h"
#include "platform/qt/qt_message_boxes.h"
#include "platform/qt/qt_open_file_prompt.h"
#include "platform/testing/temp_folder.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

using testing::ShownBox;

TEST(QtMessageBoxes, ModalWithOnlyOkAndTheGivenOrApplicationTitle) {
  app::testing::ModalDriver driver;
  QtMessageBoxes boxes;
  boxes.Show(u"plain", MessageIcon::kNone, std::nullopt);
  boxes.Show(u"<b>not bold</b>", MessageIcon::kCritical, std::u16string(u"KELVARO"));
  boxes.Show(u"Error# = 5\r\nDescription = x", MessageIcon::kInformation, std::u16string(u"T"));
  const std::vector<ShownBox> expected = {
      {u"plain", MessageIcon::kNone, u"Quillmar"},
      {u"<b>not bold</b>", MessageIcon::kCritical, u"KELVARO"},
      {u"Error# = 5\nDescription = x", MessageIcon::kInformation, u"T"},
  };
  EXPECT_EQ(driver.boxes, expected);
  for (const auto& buttons : driver.buttons) EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(QtNameFilters, KeepsOrAddsThePatternInParentheses) {
  EXPECT_EQ(QtNameFilters(u"Access Files (*.mdb)|*.mdb"), QStringList{"Access Files (*.mdb)"});
  EXPECT_EQ(QtNameFilters(u"Databases|*.mdb;*.accdb|All|*.*"),
            (QStringList{"Databases (*.mdb *.accdb)", "All (*.*)"}));
  EXPECT_TRUE(QtNameFilters(u"").isEmpty());
}

TEST(QtOpenFilePrompt, OpensInTheCurrentDirectoryProposingTheName) {
  testing::TempFolder folder;
  testing::CurrentDirectoryGuard restore;
  testing::WriteFile(folder / "stock.mdb", "db");
  std::filesystem::current_path(folder.path());

  app::testing::ModalDriver driver;
  QString title, proposed, directory;
  QStringList filters;
  QFileDialog::FileMode mode = QFileDialog::AnyFile;
  driver.on_file_dialog = [&](QFileDialog& dialog) {
    title = dialog.windowTitle();
    filters = dialog.nameFilters();
    directory = dialog.directory().absolutePath();
    mode = dialog.fileMode();
    if (auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit")) proposed = edit->text();
    dialog.selectFile(QString::fromStdString((folder / "stock.mdb").string()));
    static_cast<QDialog&>(dialog).accept();  // public through the base class
  };
  QtOpenFilePrompt prompt;
  const auto chosen = prompt.AskOpenFile({u"Select File for Maintenance", u"Access Files (*.mdb)|*.mdb",
                                          u"*.MDB", u".", true});
  EXPECT_EQ(title, "Select File for Maintenance");
  EXPECT_EQ(filters, QStringList{"Access Files (*.mdb)"});
  EXPECT_EQ(directory, QString::fromStdString(folder.path().string()));
  EXPECT_EQ(mode, QFileDialog::ExistingFile);
  EXPECT_EQ(proposed, "*.MDB");
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, FromUtf8((folder / "stock.mdb").string()));
}

TEST(QtOpenFilePrompt, CancelGivesNothing) {
  app::testing::ModalDriver driver;  // rejects file dialogs
  QtOpenFilePrompt prompt;
  EXPECT_FALSE(prompt.AskOpenFile({u"t", u"Access Files (*.mdb)|*.mdb", u"*.MDB", u".", true}).has_value());
}

}  // namespace
}  // namespace quillmar::platform

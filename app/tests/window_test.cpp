#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStyleOptionButton>

#include "app/program.h"
#include "app/tests/modal_driver.h"

namespace quillmar::app {
namespace {

class WindowTest : public ::testing::Test {
 protected:
  Program program;
  frmCompact& window = program.window();
};

TEST_F(WindowTest, CaptionSizeIconAndEmptyLabelAtStart) {
  EXPECT_EQ(window.objectName(), "frmCompact");
  EXPECT_EQ(window.windowTitle(), "Compact And Repair  Database  - Utility");
  EXPECT_EQ(window.size(), QSize(455, 112));
  EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the window is fixed";
  EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(64, 64)));
  EXPECT_EQ(window.windowIcon().pixmap(64, 64).toImage().depth(), 32);  // 24-bit colour, padded
  EXPECT_TRUE(window.lblFile->text().isEmpty());
  EXPECT_TRUE(window.cmdBrowse->isEnabled());
  EXPECT_TRUE(window.cmdCompact->isEnabled());
}

TEST_F(WindowTest, ControlsHaveTheirNamesTextsAndPlaces) {
  EXPECT_EQ(window.findChild<QLabel*>("lblFile"), window.lblFile);
  EXPECT_EQ(window.findChild<QPushButton*>("cmdBrowse"), window.cmdBrowse);
  EXPECT_EQ(window.findChild<QPushButton*>("cmdCompact"), window.cmdCompact);
  EXPECT_EQ(window.lblFile->geometry(), QRect(10, 12, 399, 53));
  EXPECT_EQ(window.cmdBrowse->geometry(), QRect(414, 26, 29, 27));
  EXPECT_EQ(window.cmdCompact->geometry(), QRect(142, 78, 109, 25));
  EXPECT_EQ(window.cmdBrowse->text(), "...");
  EXPECT_EQ(window.cmdCompact->text(), "Compact and Repair");
  EXPECT_EQ(window.cmdBrowse->toolTip(), "Choose a Database file to Compact and Repair");
  EXPECT_EQ(window.lblFile->textFormat(), Qt::PlainText);
}

TEST_F(WindowTest, TabOrderRunsLabelBrowseCompact) {
  std::vector<QString> chain;
  for (QWidget* w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain()) {
    chain.push_back(w->objectName());
  }
  EXPECT_EQ(chain, (std::vector<QString>{"lblFile", "cmdBrowse", "cmdCompact"}));
  EXPECT_EQ(window.lblFile->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(window.focusWidget(), window.cmdBrowse);
}

TEST_F(WindowTest, BrowseButtonFontIsMsSerifMappedToAnInstalledSerif) {
  const QFont font = window.cmdBrowse->font();
  EXPECT_EQ(font.family(), "MS Serif");
  EXPECT_DOUBLE_EQ(font.pointSizeF(), 13.5);
  EXPECT_EQ(font.weight(), QFont::Bold);
  const QFontInfo resolved(font);
  EXPECT_TRUE(resolved.family() == "DejaVu Serif" || resolved.family() == "Liberation Serif")
      << resolved.family().toStdString();
  EXPECT_TRUE(resolved.bold());
}

// The style's content area of a button must hold its caption whole.
void ExpectCaptionFits(const QPushButton& button) {
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  const QRect contents = button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
  const QRect text = button.fontMetrics().boundingRect(button.text());
  EXPECT_LE(text.width(), contents.width()) << button.objectName().toStdString();
  EXPECT_LE(button.fontMetrics().height(), contents.height()) << button.objectName().toStdString();
}

TEST_F(WindowTest, EveryCaptionFitsItsControl) {
  ExpectCaptionFits(*window.cmdBrowse);
  ExpectCaptionFits(*window.cmdCompact);
  const QString design = "Click the Browse button to Choose a database to compact and repair...";
  const QRect needed = window.lblFile->fontMetrics().boundingRect(
      QRect(QPoint(0, 0), window.lblFile->size()), Qt::TextWordWrap, design);
  EXPECT_LE(needed.height(), window.lblFile->height());
  EXPECT_LE(needed.width(), window.lblFile->width());
}

TEST_F(WindowTest, OpensCentredOnTheScreen) {
  window.ShowCentred();
  ASSERT_TRUE(window.isVisible());
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  const QPoint window_centre = window.frameGeometry().center();
  EXPECT_LE((window_centre - centre).manhattanLength(), 2);
}

TEST_F(WindowTest, MousePointerElevenIsTheBusyCursor) {
  window.SetMousePointer(11);
  EXPECT_EQ(window.GetMousePointer(), 11);
  EXPECT_TRUE(window.testAttribute(Qt::WA_SetCursor));
  EXPECT_EQ(window.cursor().shape(), Qt::WaitCursor);
  window.SetMousePointer(0);
  EXPECT_EQ(window.GetMousePointer(), 0);
  EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(WindowTest, CompactBeforeAnyChoiceAsksForABrowse) {
  testing::ModalDriver driver;
  window.ShowCentred();
  window.cmdCompact->click();
  ASSERT_EQ(driver.boxes.size(), 1u);
  EXPECT_EQ(driver.boxes[0], (platform::testing::ShownBox{u"Click the browse button to choose a Database file.",
                                                          platform::MessageIcon::kNone, u"Quillmar"}));
  EXPECT_EQ(driver.buttons[0], QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(window.GetMousePointer(), 0);
}

}  // namespace
}  // namespace quillmar::app

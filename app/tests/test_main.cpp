// Widget tests need one QApplication for the whole run; test discovery runs
// this binary too, so fall back to the off-screen platform when none is set.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/window_fonts.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  quillmar::app::InstallFontSubstitutions();
  return RUN_ALL_TESTS();
}

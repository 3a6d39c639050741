// The window is the program: it opens centred and the event loop runs until
// it is closed. Nothing is read from the command line and nothing is saved.
#include <QApplication>

#include "app/program.h"
#include "app/window_fonts.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmar"));
  // Lets the desktop match the window to its menu entry (and icon).
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.quillmar.Quillmar"));
  QApplication::setStyle(QStringLiteral("Fusion"));
  quillmar::app::InstallFontSubstitutions();
  quillmar::app::Program program;
  program.window().ShowCentred();
  return QApplication::exec();
}

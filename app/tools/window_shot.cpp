// Developer tool, not part of the program: opens the window as the program
// does and saves a picture of it, for the README.
//   xvfb-run -a build/.../app/quillmar-window-shot docs/window.png [path to show]
#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "app/program.h"
#include "app/window_fonts.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [PATH-TO-SHOW]\n", argv[0]);
    return 2;
  }
  QApplication::setStyle(QStringLiteral("Fusion"));
  quillmar::app::InstallFontSubstitutions();
  quillmar::app::Program program;
  if (argc == 3) program.window().lblFile->setText(QString::fromLocal8Bit(argv[2]));
  program.window().ShowCentred();
  int status = 1;
  QTimer::singleShot(500, [&] {
    status = program.window().grab().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
    QApplication::quit();
  });
  QApplication::exec();
  return status;
}

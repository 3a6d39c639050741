#pragma once
// Answers the modal dialogs a click opens: records every message box and
// presses its OK button; hands an open-file dialog to a test's handler.
#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <vector>

#include "platform/qt/qt_text.h"
#include "platform/testing/scripted_message_boxes.h"

namespace quillmar::app::testing {

class ModalDriver {
 public:
  ModalDriver() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  std::vector<platform::testing::ShownBox> boxes;
  std::vector<QMessageBox::StandardButtons> buttons;
  std::function<void(QFileDialog&)> on_file_dialog;

 private:
  static platform::MessageIcon IconOf(QMessageBox::Icon icon) {
    switch (icon) {
      case QMessageBox::Critical: return platform::MessageIcon::kCritical;
      case QMessageBox::Information: return platform::MessageIcon::kInformation;
      default: return platform::MessageIcon::kNone;
    }
  }

  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal); box != nullptr && box->isVisible()) {
      boxes.push_back({platform::FromQString(box->text()), IconOf(box->icon()),
                       platform::FromQString(box->windowTitle())});
      buttons.push_back(box->standardButtons());
      box->button(QMessageBox::Ok)->click();
    } else if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog != nullptr && dialog->isVisible()) {
      if (on_file_dialog) {
        on_file_dialog(*dialog);
      } else {
        dialog->reject();
      }
    }
  }

  QTimer timer_;
};

}  // namespace quillmar::app::testing

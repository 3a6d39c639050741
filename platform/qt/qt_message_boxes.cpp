#include "platform/qt/qt_message_boxes.h"

#include <QMessageBox>

#include "platform/qt/qt_text.h"

namespace quillmar::platform {
namespace {

QMessageBox::Icon QtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kCritical: return QMessageBox::Critical;
    case MessageIcon::kInformation: return QMessageBox::Information;
    case MessageIcon::kNone: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void QtMessageBoxes::Show(const std::u16string& text, MessageIcon icon,
                          const std::optional<std::u16string>& title) {
  // Texts end lines with CR LF; the label wants a plain line feed.
  QString shown = ToQString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QtIcon(icon), ToQString(title.value_or(kApplicationTitle)), shown, QMessageBox::Ok,
                  parent_.data());
  // Paths are shown as they are, never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace quillmar::platform

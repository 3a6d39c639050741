#pragma once
// The open-file dialog shown with Qt's own (non-native) file dialog, so it
// looks and behaves the same on every desktop.
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "platform/common_dialog.h"

namespace quillmar::platform {

class QtOpenFilePrompt : public OpenFilePrompt {
 public:
  void SetParentWindow(QWidget* window) { parent_ = window; }

  std::optional<std::u16string> AskOpenFile(const OpenFileRequest& request) override;

 private:
  QPointer<QWidget> parent_;
};

// "Access Files (*.mdb)|*.mdb" -> {"Access Files (*.mdb)"}: Qt reads the
// patterns from the parentheses, so a description without them gets them.
QStringList QtNameFilters(const std::u16string& filter);

}  // namespace quillmar::platform

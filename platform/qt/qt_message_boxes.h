#pragma once
// Message boxes as modal Qt dialogs with one OK button.
#include <QPointer>
#include <QWidget>

#include "platform/message_boxes.h"

namespace quillmar::platform {

class QtMessageBoxes : public MessageBoxes {
 public:
  // The boxes are centred over this window (set once it exists).
  void SetParentWindow(QWidget* window) { parent_ = window; }

  void Show(const std::u16string& text, MessageIcon icon,
            const std::optional<std::u16string>& title) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace quillmar::platform

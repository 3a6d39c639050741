#pragma once
// Test double: records every message box and can run a hook on each.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/message_boxes.h"

namespace quillmar::platform::testing {

struct ShownBox {
  std::u16string text;
  MessageIcon icon;
  std::u16string title;  // already resolved: the application title when none was given
  bool operator==(const ShownBox&) const = default;
};

class ScriptedMessageBoxes : public MessageBoxes {
 public:
  void Show(const std::u16string& text, MessageIcon icon,
            const std::optional<std::u16string>& title) override {
    shown.push_back({text, icon, title.value_or(kApplicationTitle)});
    if (on_show) on_show(shown.back());
  }

  std::vector<ShownBox> shown;
  std::function<void(const ShownBox&)> on_show;
};

}  // namespace quillmar::platform::testing

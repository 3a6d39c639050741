#pragma once
// Modal message boxes with a single OK button.
#include <optional>
#include <string>

namespace quillmar::platform {

enum class MessageIcon { kNone, kCritical, kInformation };

// Title of every box that is given none.
inline constexpr char16_t kApplicationTitle[] = u"Quillmar";

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Returns when the user has closed the box.
  virtual void Show(const std::u16string& text, MessageIcon icon,
                    const std::optional<std::u16string>& title) = 0;
};

}  // namespace quillmar::platform

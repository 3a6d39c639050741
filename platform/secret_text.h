#pragma once
// Wiping of texts that held a password, so it does not linger in freed memory.
#include <string>

namespace quillmar::platform {

// Overwrites every character with zero and empties the string (capacity stays).
void WipeText(std::u16string& text);
void WipeText(std::string& text);

// Owns a password-bearing text and wipes it when it goes out of scope, on
// every path out of the block.
template <class Text>
class WipeOnExit {
 public:
  explicit WipeOnExit(Text& text) : text_(text) {}
  ~WipeOnExit() { WipeText(text_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  Text& text_;
};

}  // namespace quillmar::platform

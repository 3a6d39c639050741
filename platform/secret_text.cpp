#include "platform/secret_text.h"

#include <string.h>

namespace quillmar::platform {

void WipeText(std::u16string& text) {
  if (!text.empty()) ::explicit_bzero(text.data(), text.size() * sizeof(char16_t));
  text.clear();
}

void WipeText(std::string& text) {
  if (!text.empty()) ::explicit_bzero(text.data(), text.size());
  text.clear();
}

}  // namespace quillmar::platform

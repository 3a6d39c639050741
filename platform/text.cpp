#include "platform/text.h"

#include "engine/format/text_codec.h"

namespace quillmar::platform {
namespace {

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

}  // namespace

// The engine's codec is the one place text changes encoding.
std::string ToUtf8(std::u16string_view text) { return jet::utf16_to_utf8(text); }

std::u16string FromUtf8(std::string_view text) { return jet::utf8_to_utf16(text); }

std::u16string Ascii(std::string_view ascii) {
  std::u16string out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::filesystem::path PathOf(std::u16string_view text) { return std::filesystem::path(ToUtf8(text)); }

}  // namespace quillmar::platform

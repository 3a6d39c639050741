#include "platform/ansi_code_page.h"

#include <array>

namespace quillmar::platform {
namespace {

// 0x80..0x9F are the only bytes where Windows-1252 differs from Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr std::uint8_t kUnmapped = '?';

}  // namespace

std::uint8_t AnsiCodeOf(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == c) return static_cast<std::uint8_t>(0x80 + i);
  }
  return kUnmapped;
}

char16_t CharOfAnsiCode(std::uint8_t code) {
  if (code >= 0x80 && code <= 0x9F) return kHighControls[code - 0x80u];
  return static_cast<char16_t>(code);
}

}  // namespace quillmar::platform

#pragma once
// The system's ANSI code page, one byte per character. On Linux we take it to
// be Windows-1252, the code page of the databases we serve.
#include <cstdint>

namespace quillmar::platform {

// A character with no code in the page becomes '?' (63), as the classic
// conversion does. The five bytes the page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) map to and from the C1 controls of the same value, so every
// byte round-trips.
std::uint8_t AnsiCodeOf(char16_t c);
char16_t CharOfAnsiCode(std::uint8_t code);

}  // namespace quillmar::platform

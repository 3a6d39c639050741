#pragma once
#include <string>

namespace quillmar::maintenance {

// Flips the top bit of each character's ANSI code (adds 128, keeps the low
// byte), so applying it twice gives the text back. Raises "Overflow" (6) for a
// text longer than 32767 characters, the limit of its 16-bit counter.
std::u16string UnscrambleText(std::u16string text);

}  // namespace quillmar::maintenance

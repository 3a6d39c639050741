#include "maintenance/unscramble_text.h"

#include <cstdint>
#include <limits>

#include "platform/ansi_code_page.h"
#include "platform/failure.h"

namespace quillmar::maintenance {

std::u16string UnscrambleText(std::u16string text) {
  using platform::failure_number::kOverflow;
  constexpr std::size_t kMaxLength = std::numeric_limits<std::int16_t>::max();
  if (text.size() > kMaxLength) throw platform::RuntimeFailure(kOverflow);

  std::u16string result;
  result.reserve(text.size());
  for (char16_t c : text) {
    const int code = platform::AnsiCodeOf(c);
    const int sum = code + 128;
    if (sum > std::numeric_limits<std::int16_t>::max()) throw platform::RuntimeFailure(kOverflow);
    result.push_back(platform::CharOfAnsiCode(static_cast<std::uint8_t>(sum & 0xFF)));
  }
  return result;
}

}  // namespace quillmar::maintenance

#include "engine/write/code_page_conversion.h"

#include "engine/format/text_codec.h"

namespace jet::write {

CodePageConversion::CodePageConversion(std::uint16_t from, std::uint16_t to) : to_(to) {
  for (int b = 0; b < 256; ++b) {
    const std::uint8_t byte = static_cast<std::uint8_t>(b);
    const std::u16string ch = decode_code_page(std::span<const std::uint8_t>(&byte, 1), from);
    const Bytes there = encode_code_page(ch, to);
    // encode_code_page writes '?' for what it cannot hold; decoding back
    // tells a real '?' from a stand-in.
    const bool held = there.size() == 1 && decode_code_page(there, to) == ch;
    map_[b] = held ? there[0] : -1;
    if (!held || there[0] != byte) identity_ = false;
  }
}

bool CodePageConversion::holds(std::u16string_view text) const {
  const Bytes there = encode_code_page(text, to_);
  return decode_code_page(there, to_) == text;
}

bool CodePageConversion::holds(std::span<const std::uint8_t> bytes) const {
  for (const std::uint8_t b : bytes) {
    if (map_[b] < 0) return false;
  }
  return true;
}

void CodePageConversion::convert(std::span<std::uint8_t> bytes) const {
  if (identity_) return;
  for (std::uint8_t& b : bytes) {
    if (map_[b] >= 0) b = static_cast<std::uint8_t>(map_[b]);
  }
}

}  // namespace jet::write

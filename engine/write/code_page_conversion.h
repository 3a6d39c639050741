#pragma once
// Jet 3 keeps text in single-byte code pages. Converting a database to the
// General order moves its text into code page 1252, byte for byte: every
// code page we read maps each byte to one character, so a text keeps its
// length, and only characters 1252 lacks stop the conversion.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace jet::write {

class CodePageConversion {
 public:
  CodePageConversion(std::uint16_t from, std::uint16_t to);
  // True when every character of `text` has a byte in the target code page.
  bool holds(std::u16string_view text) const;
  // True when every byte stands for a character the target holds.
  bool holds(std::span<const std::uint8_t> bytes) const;
  // True when no byte changes (the two pages agree on all of them).
  bool is_identity() const { return identity_; }
  // Rewrites bytes of the source page in place; bytes the target cannot
  // hold are left as they are (callers check with holds() first).
  void convert(std::span<std::uint8_t> bytes) const;

 private:
  std::uint16_t to_;
  std::array<std::int16_t, 256> map_{};  // target byte, or -1 when there is none
  bool identity_ = true;
};

}  // namespace jet::write

#pragma once
// Keys that some files in orders other than General hold in a form of
// their own: two bytes per character (a script byte, then the letter's
// weight), case not kept, then 01 01 01 01 00. Jet 3 files in the Turkish
// order key every text so (INDEX_FORMAT.md). Nothing of the form is
// known beforehand: each character's two bytes are read off the file's
// own entries, and only text whose every character was seen is keyed.
#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string_view>

#include "engine/model/value.h"

namespace jet::index {

class SortKeyForm {
 public:
  // Reads one entry: its text and its key's bytes from the text on
  // (ascending). False when the key is not of this form.
  bool add(std::u16string_view text, std::span<const std::uint8_t> key);

  // Entries of this form read, and whether two gave one character
  // different bytes (then the form explains nothing).
  std::size_t entries() const { return entries_; }
  bool contradicted() const { return contradicted_; }

  // Whether every character of `text` has bytes, and the text is no
  // longer than the longest one seen keyed so.
  bool keys(std::u16string_view text) const;
  // Appends the key of `text` (ascending); false when keys(text) is not.
  bool key_into(std::u16string_view text, Bytes& out) const;

 private:
  // The bytes of `c`, or of the letter in the other case where the file
  // shows case is not kept.
  const std::array<std::uint8_t, 2>* bytes_of(char16_t c) const;
  bool case_is_not_kept() const;

  std::map<char16_t, std::array<std::uint8_t, 2>> codes_;
  std::size_t entries_ = 0;
  std::size_t longest_ = 0;
  bool contradicted_ = false;
};

}  // namespace jet::index

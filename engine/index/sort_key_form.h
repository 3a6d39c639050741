#pragma once
// Keys that some files in orders other than General hold in a form General
// explains nothing of, yet plain: each character's codes in turn, then an
// end marker. Jet 3 files in the Turkish order take two bytes a character
// (a script byte, then the letter's weight, case not kept) and end with
// 01 01 01 01 00; Access 2000 files in the Korean order give each
// character as many bytes as General does, other ones, and end with 01 00
// (INDEX_FORMAT.md). Nothing of an order's codes is known beforehand: each
// character's are read off the file's own entries, and only text whose
// every character was seen is keyed.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/model/value.h"

namespace jet::index {

class SortKeyForm {
 public:
  // How many bytes each character of a text's key takes in the form; none
  // when that cannot be told (a character General has no code for).
  using CodeLengths = std::function<std::optional<std::vector<std::size_t>>(std::u16string_view)>;

  // Reads one entry: its text and its key's bytes from the text on
  // (ascending), which must be the characters' codes and then `end`. False
  // when the key is not of this form.
  bool add(std::u16string_view text, std::span<const std::uint8_t> key, std::span<const std::uint8_t> end,
           const CodeLengths& lengths);

  // For an entry whose text is not known (a lost row's): how many
  // characters of `text` with known bytes `key` shows with those bytes,
  // when `key` is of this form for `text` and contradicts nothing known;
  // nullopt otherwise. Nothing is learned.
  std::optional<std::size_t> fits(std::u16string_view text, std::span<const std::uint8_t> key,
                                  std::span<const std::uint8_t> end, const CodeLengths& lengths) const;

  // Entries of this form read, and whether two gave one character
  // different bytes or the entries ended differently (then the form
  // explains nothing).
  std::size_t entries() const { return entries_; }
  bool contradicted() const { return contradicted_; }

  // Whether every character of `text` has bytes, and the text is no
  // longer than the longest one seen keyed so.
  bool keys(std::u16string_view text) const;
  // Appends the key of `text` (ascending); false when keys(text) is not.
  bool key_into(std::u16string_view text, Bytes& out) const;

  // Only the first 255 characters of a value take part in its key, and
  // trailing spaces never do.
  static std::u16string_view key_chars(std::u16string_view text);

 private:
  // Each character's bytes in `key`, when `key` is of the form for `text`.
  static std::optional<std::vector<Bytes>> codes_in(std::u16string_view text, std::span<const std::uint8_t> key,
                                                    std::span<const std::uint8_t> end, const CodeLengths& lengths);
  // The bytes of `c`, or of the letter in the other case where the file
  // shows case is not kept.
  const Bytes* bytes_of(char16_t c) const;
  bool case_is_not_kept() const;

  std::map<char16_t, Bytes> codes_;
  Bytes end_;
  std::size_t entries_ = 0;
  std::size_t longest_ = 0;
  bool contradicted_ = false;
};

}  // namespace jet::index

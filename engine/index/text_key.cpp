#include "engine/index/text_key.h"

#include <algorithm>
#include <cstdio>

#include "engine/error.h"
#include "engine/index/collation_tables.h"

namespace jet::index {
namespace {

using collation::CharCode;
using collation::CharKind;

// Only the first 255 characters of a value take part in its key, and
// trailing spaces never do.
constexpr std::size_t kMaxKeyChars = 255;

constexpr std::uint8_t kEndOfText = 0x01;
constexpr std::uint8_t kEndOfValue = 0x00;
constexpr std::uint8_t kAccentPlaceholder = 0x02;
constexpr std::uint8_t kControlMarker = 0x06;
constexpr std::uint8_t kFlagGroupStart = 0x80;
constexpr std::uint8_t kFlagTrailer[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr std::uint8_t kFlagsThenControls = 0xFF;
constexpr std::uint8_t kFlagIgnoredAtEnd = 0x03;

[[noreturn]] void unsupported(char16_t c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(c));
  const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
  throw Error(errc::kNotBuiltYet, std::string("Cannot build an index key for character U+") + buf +
                                      (surrogate ? " (half of a character beyond U+FFFF)" : "") +
                                      ": its place in the General sort order is not known.");
}

std::u16string key_chars(const std::u16string& text) {
  std::u16string s = text.substr(0, kMaxKeyChars);
  while (!s.empty() && s.back() == u' ') s.pop_back();
  return s;
}

// Positions after the text (accent bytes, control notes) count sort
// elements, not characters: a character whose code expands to several
// letters (ß as "ss", æ as "ae", þ as "th", ĳ as "ij") takes one position per
// letter. In the Access 2000 order a Latin letter, digit or common sign is
// one byte, any other element two bytes (a script byte first); the bytes
// that stand alone are exactly those single-byte codes of the Latin-1 table.
struct SingleByteElements {
  bool is_single[256] = {};
  SingleByteElements() {
    for (const CharCode& code : collation::kGeneralLegacyLatin1) {
      if (code.inline_len == 1) is_single[code.inline_bytes[0]] = true;
    }
  }
};

std::size_t legacy_elements(const CharCode& code) {
  if (code.inline_len <= 1) return code.inline_len;
  static const SingleByteElements singles;
  std::size_t n = 0;
  for (std::size_t i = 0; i < code.inline_len; ++n) i += singles.is_single[code.inline_bytes[i]] ? 1 : 2;
  return n;
}

// The Access 2010 order spends two bytes on every element.
std::size_t elements(const CharCode& code, TextOrder order) {
  if (order == TextOrder::General2010) return code.inline_len == 0 ? 0 : std::max<std::size_t>(1, code.inline_len / 2);
  return legacy_elements(code);
}

// A character of a run takes the run's first code advanced by its distance
// from the run's first character, stepping over the unused low bytes 00 and 01.
CharCode run_code(const collation::ExtendedRun& run, char16_t c) {
  if (run.first_code == 0) return CharCode{CharKind::kIgnored, 0, {}, 0, {}, 0};
  constexpr unsigned kLowCodes = 254;  // 0x02-0xFF
  const unsigned step = (run.first_code & 0xFFu) - 2 + (c - run.first);
  const unsigned high = (run.first_code >> 8) + step / kLowCodes;
  const unsigned low = 2 + step % kLowCodes;
  return CharCode{CharKind::kPlain, 2, {static_cast<std::uint8_t>(high), static_cast<std::uint8_t>(low)}, 0, {}, 0};
}

CharCode legacy_code(char16_t c, TextOrder order) {
  if (c <= 0xFF) {
    return order == TextOrder::General2010 ? collation::kGeneral2010Latin1[c] : collation::kGeneralLegacyLatin1[c];
  }
  if (order == TextOrder::GeneralLegacy) {
    const auto* first = collation::kGeneralLegacyExtended;
    const auto* last = first + collation::kGeneralLegacyExtendedCount;
    const auto* it = std::lower_bound(first, last, c, [](const auto& e, char16_t v) { return e.code_point < v; });
    if (it != last && it->code_point == c) return it->code;
    const auto* runs = collation::kGeneralLegacyRuns;
    const auto* runs_end = runs + collation::kGeneralLegacyRunCount;
    const auto* run = std::upper_bound(runs, runs_end, c, [](char16_t v, const auto& r) { return v < r.first; });
    if (run != runs && c <= (run - 1)->last) return run_code(*(run - 1), c);
    // Only the surrogates are left: the list gives them no code.
  }
  unsupported(c);
}

CharCode plain_code(const Bytes& bytes) {
  CharCode code{CharKind::kPlain, static_cast<std::uint8_t>(bytes.size()), {}, 0, {}, 0};
  std::copy(bytes.begin(), bytes.end(), code.inline_bytes);
  return code;
}

bool fits_inline(const Bytes& bytes) { return !bytes.empty() && bytes.size() <= sizeof(CharCode::inline_bytes); }

// The code of `c`, or the plain inline codes an override gives it.
CharCode code_of(char16_t c, TextOrder order, const CodeOverrides* overrides) {
  if (overrides != nullptr) {
    const auto it = overrides->chars.find(c);
    if (it != overrides->chars.end() && fits_inline(it->second)) return plain_code(it->second);
  }
  return legacy_code(c, order);
}

// The code of the text's element at `i`: of the letter pair there when an
// override keys it as one letter (`pair` is then set), else of the
// character.
CharCode element_code(const std::u16string& text, std::size_t i, TextOrder order, const CodeOverrides* overrides,
                      bool& pair) {
  pair = false;
  if (overrides != nullptr && !overrides->pairs.empty() && i + 1 < text.size()) {
    const auto it = overrides->pairs.find(lower_pair_at(text, i));
    if (it != overrides->pairs.end() && fits_inline(it->second)) {
      pair = true;
      return plain_code(it->second);
    }
  }
  return code_of(text[i], order, overrides);
}

void flip(Bytes& out, std::size_t from) {
  for (std::size_t i = from; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
}

// Access 2000 and later: inline codes, end marker, then (only when needed)
// accent bytes, case/width flags and control-character notes.
void append_legacy(const std::u16string& text, TextOrder order, bool ascending, ExpansionCount expansions,
                   const CodeOverrides* overrides, Bytes& out) {
  const bool per_letter = expansions == ExpansionCount::kPerLetter;
  const std::size_t start = out.size();
  Bytes accents, controls, flags;
  std::size_t accent_chars = 0;    // elements the accent bytes describe
  std::size_t accent_lead = 0;     // combining-mark bytes with no character before them
  std::size_t char_pos = 0;        // sort elements written inline so far

  const std::u16string chars = key_chars(text);
  for (std::size_t i = 0; i < chars.size(); ++i) {
    bool pair = false;
    const CharCode code = element_code(chars, i, order, overrides, pair);
    if (pair) ++i;
    const std::size_t pos = char_pos;
    out.insert(out.end(), code.inline_bytes, code.inline_bytes + code.inline_len);
    if (code.inline_len == 1) {
      ++char_pos;  // the common case: one byte, one element
    } else if (code.inline_len > 1) {
      char_pos += per_letter ? elements(code, order) : 1;
    }
    if (code.kind == CharKind::kPlain || code.kind == CharKind::kIgnored) continue;

    const bool has_accent =
        (code.kind == CharKind::kAccented || code.kind == CharKind::kAccentedFlagged) && code.extra_len > 0;
    if (has_accent || code.kind == CharKind::kCombining) {
      if (accent_chars < pos) {
        accents.insert(accents.end(), pos - accent_chars, kAccentPlaceholder);
        accent_chars = pos;
      }
      if (has_accent) {
        // One accent byte per element (a placeholder for each unaccented one).
        accents.insert(accents.end(), code.extra_bytes, code.extra_bytes + code.extra_len);
        accent_chars += per_letter ? std::max<std::size_t>(1, elements(code, order)) : 1;
      } else if (code.kind == CharKind::kCombining) {
        if (!accents.empty()) {
          accents.back() = static_cast<std::uint8_t>(accents.back() + code.flag);
        } else {
          accents.push_back(code.flag);
          accent_lead = 1;
        }
      }
    }
    if (code.kind == CharKind::kControl) {
      // The note's position counts accent bytes (written or still pending),
      // not characters, once any accent has been seen.
      std::size_t at = pos;
      if (!accents.empty()) at = accents.size() + (pos - accent_chars) - accent_lead;
      const std::size_t v = (7 + 4 * at) | 0x8000;
      controls.push_back(static_cast<std::uint8_t>(v >> 8));
      controls.push_back(static_cast<std::uint8_t>(v));
      controls.push_back(kControlMarker);
      controls.insert(controls.end(), code.extra_bytes, code.extra_bytes + code.extra_len);
    }
    if (code.kind == CharKind::kAccentedFlagged) flags.push_back(code.flag);
  }
  out.push_back(kEndOfText);

  while (!accents.empty() && accents.back() <= kAccentPlaceholder) accents.pop_back();
  if (!accents.empty() || !controls.empty() || !flags.empty()) {
    out.insert(out.end(), accents.begin(), accents.end());
    if (!controls.empty() || !flags.empty()) {
      out.push_back(kEndOfText);
      out.push_back(kEndOfText);
      if (!flags.empty()) {
        while (!flags.empty() && flags.back() == kFlagIgnoredAtEnd) flags.pop_back();
        // Three 2-bit flags per byte, first flag in the high pair.
        for (std::size_t i = 0; i < flags.size(); i += 3) {
          std::uint8_t b = kFlagGroupStart;
          for (std::size_t k = 0; k < 3 && i + k < flags.size(); ++k) {
            b = static_cast<std::uint8_t>(b | flags[i + k] << ((2 - k) * 2));
          }
          out.push_back(b);
        }
        out.insert(out.end(), std::begin(kFlagTrailer), std::end(kFlagTrailer));
        if (!controls.empty()) out.push_back(kFlagsThenControls);
      }
      if (!controls.empty()) {
        out.push_back(kEndOfText);
        out.insert(out.end(), controls.begin(), controls.end());
      }
    }
  }
  if (!ascending) {
    out.push_back(kEndOfValue);
    flip(out, start);
  }
  out.push_back(kEndOfValue);
}

const CharCode& code97(char16_t c) {
  if (c <= 0xFF) return collation::kGeneral97Latin1[c];
  const auto* first = std::begin(collation::kGeneral97Extended);
  const auto* last = std::end(collation::kGeneral97Extended);
  const auto* it = std::lower_bound(first, last, c, [](const auto& m, char16_t v) { return m.from < v; });
  if (it != last && it->from == c) return collation::kGeneral97Latin1[it->to];
  // Not a Windows-1252 character: the file uses another code page, whose
  // byte codes this table does not describe.
  unsupported(c);
}

// Accent values of the Access 97 order are nibbles: the table keeps each in
// the high half of its byte.
std::uint8_t nibble97(const CharCode& code) { return static_cast<std::uint8_t>(code.extra_bytes[0] >> 4); }

// In the accent string a 2 stands for each "significant" letter since the
// previous accented one: a letter that has accented forms in the table (a, c,
// e, i, n, o, s, u, y in Windows-1252), so that its own accent could have
// been noted there. Other letters, digits and signs leave no trace. A code
// that expands to several letters (ß as "ss", æ as "ae") counts each of them.
struct Significant97 {
  bool is_base[256] = {};
  Significant97() {
    for (const CharCode& code : collation::kGeneral97Latin1) {
      if (code.kind == CharKind::kAccented && code.inline_len == 1) is_base[code.inline_bytes[0]] = true;
    }
  }
};

std::size_t significant_letters97(const CharCode& code) {
  static const Significant97 table;
  std::size_t n = 0;
  for (std::size_t i = 0; i < code.inline_len; ++i) n += table.is_base[code.inline_bytes[i]] ? 1 : 0;
  return n;
}

// Access 97: inline codes, then either a single 00 or a nibble string of
// accents (a 0 nibble, a 2 for each significant letter before an accented
// one, the accent nibble, ..., a closing 0 nibble).
void append_97(const std::u16string& text, bool ascending, Bytes& out) {
  const std::size_t start = out.size();
  std::vector<std::uint8_t> nibbles;
  std::size_t significant_since_accent = 0;
  for (char16_t c : key_chars(text)) {
    const CharCode& code = code97(c);
    out.insert(out.end(), code.inline_bytes, code.inline_bytes + code.inline_len);
    if (code.kind != CharKind::kAccented) {
      significant_since_accent += significant_letters97(code);
      continue;
    }
    if (nibbles.empty()) nibbles.push_back(0);
    nibbles.insert(nibbles.end(), significant_since_accent, kAccentPlaceholder);
    nibbles.push_back(nibble97(code));
    significant_since_accent = 0;
  }
  if (nibbles.empty()) {
    out.push_back(kEndOfValue);
  } else {
    nibbles.push_back(0);
    for (std::size_t i = 0; i < nibbles.size(); i += 2) {
      const std::uint8_t lo = i + 1 < nibbles.size() ? nibbles[i + 1] : 0;
      out.push_back(static_cast<std::uint8_t>(nibbles[i] << 4 | lo));
    }
  }
  if (!ascending) flip(out, start);
}

}  // namespace

void append_text_key(const std::u16string& text, TextOrder order, bool ascending, Bytes& out,
                     ExpansionCount expansions, const CodeOverrides* overrides) {
  if (order == TextOrder::General97) {
    append_97(text, ascending, out);
  } else {
    append_legacy(text, order, ascending, expansions, overrides, out);
  }
}

void append_text_inline(const std::u16string& text, TextOrder order, Bytes& out, std::vector<std::size_t>& ends,
                        const CodeOverrides* overrides) {
  ends.clear();
  const std::u16string chars = text.substr(0, kMaxKeyChars);
  for (std::size_t i = 0; i < chars.size(); ++i) {
    if (order == TextOrder::General97) {
      const CharCode& code = code97(chars[i]);
      out.insert(out.end(), code.inline_bytes, code.inline_bytes + code.inline_len);
    } else {
      bool pair = false;
      const CharCode code = element_code(chars, i, order, overrides, pair);
      out.insert(out.end(), code.inline_bytes, code.inline_bytes + code.inline_len);
      // A pair's codes end where its second letter does; its first has none.
      if (pair) {
        ends.push_back(out.size() - code.inline_len);
        ++i;
      }
    }
    ends.push_back(out.size());
  }
}

std::u16string lower_pair_at(std::u16string_view text, std::size_t i) {
  const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c; };
  return std::u16string{lower(text[i]), lower(text[i + 1])};
}

}  // namespace jet::index

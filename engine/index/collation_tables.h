#pragma once
// Sort codes for text keys in the General sort order, one entry per
// character. collation_tables.cpp is generated (see tools/); the facts come
// from studying how Access keys text, as recorded in public format notes.
#include <cstddef>
#include <cstdint>

namespace jet::index::collation {

enum class CharKind : std::uint8_t {
  kPlain,            // inline bytes only
  kAccented,         // inline base-letter bytes plus an accent byte after the text
  kControl,          // nothing inline; position and code noted after the text
  kCombining,        // nothing inline; adds `flag` to the previous accent byte
  kAccentedFlagged,  // like kAccented plus a 2-bit case/width flag
  kIgnored,          // leaves no trace in the key
};

struct CharCode {
  CharKind kind;
  std::uint8_t inline_len;
  std::uint8_t inline_bytes[6];
  std::uint8_t extra_len;
  std::uint8_t extra_bytes[3];  // accent byte(s), or the control code
  std::uint8_t flag;            // kCombining: modifier; kAccentedFlagged: 2 or 3
};

struct Mapping {
  std::uint16_t from;  // code point above U+00FF
  std::uint8_t to;     // Latin-1 code that sorts the same
};

struct ExtendedCode {
  std::uint16_t code_point;
  CharCode code;
};

extern const CharCode kGeneralLegacyLatin1[256];  // Access 2000-2007
extern const CharCode kGeneral2010Latin1[256];    // Access 2010 and later
extern const CharCode kGeneral97Latin1[256];      // Access 97, by Windows-1252 code
extern const Mapping kGeneral97Extended[27];      // sorted by `from`
extern const ExtendedCode kGeneralLegacyExtended[];  // sorted by code point
extern const std::size_t kGeneralLegacyExtendedCount;

}  // namespace jet::index::collation

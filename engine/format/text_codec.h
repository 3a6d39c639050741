#pragma once
// Text as stored: Jet 3 keeps single-byte text in the database code page,
// Jet 4 keeps UCS-2, optionally in a compressed form (FORMAT.md). Decoding
// is lossless: every byte of a single-byte code page maps to one UTF-16
// unit, and encoding it back gives the same byte.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/model/value.h"

namespace jet {

// Single-byte code page (1250-1258, 874, 437, 850...) to UTF-16. Bytes a
// code page leaves undefined map to U+0080..U+00FF of the same value.
std::u16string decode_code_page(std::span<const std::uint8_t> bytes, std::uint16_t code_page);
// The reverse; characters the code page cannot hold become '?'.
Bytes encode_code_page(std::u16string_view text, std::uint16_t code_page);

// Little-endian UCS-2 (an odd trailing byte is ignored).
std::u16string decode_ucs2(std::span<const std::uint8_t> bytes);
Bytes encode_ucs2(std::u16string_view text);

// Jet 4 text field: compressed when it starts with FF FE, else plain UCS-2.
std::u16string decode_jet4_text(std::span<const std::uint8_t> bytes);
// The reverse. With `compress`, uses the compressed form when it is shorter
// and can hold the text (a two-byte character whose low byte is zero would
// read as a mode switch, so such text stays plain UCS-2).
Bytes encode_jet4_text(std::u16string_view text, bool compress);

std::string utf16_to_utf8(std::u16string_view text);
std::u16string utf8_to_utf16(std::string_view text);

// A GUID's 16 stored bytes in the usual text form
// "{8F096CA0-FC16-4288-801E-119F26C0B6FC}": the first three groups are
// little-endian numbers, the last two plain bytes. Other sizes give "".
std::string format_guid(std::span<const std::uint8_t> bytes);

// ASCII-only case folding for name lookups.
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);

}  // namespace jet

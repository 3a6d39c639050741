#pragma once
// The header page (page 0): what the reader learns from it. Its RC4-masked
// region is unmasked here; the writer masks it again with the same key.
#include <array>
#include <cstdint>
#include <string>

#include "engine/format/jet_format.h"
#include "engine/model/value.h"

namespace jet {

struct HeaderInfo {
  const JetFormat* format = nullptr;
  std::uint8_t version_byte = 0;
  std::uint16_t code_page = 0;         // database code page (Jet 3 text), e.g. 1252
  std::uint32_t sort_order = 0;        // collating order (Windows language id): 0x0409 General, ...
  std::uint8_t sort_order_version = 0; // Jet 4: the order's version byte (after the id)
  double creation_date = 0;            // Jet 4 only: days since 1899-12-30
  std::uint32_t database_key = 0;      // non-zero: every page after this one is RC4-encrypted
  std::u16string password;             // empty when the database has none
  Bytes unmasked;                      // the whole header page with its masked region unmasked

  bool encrypted() const { return database_key != 0; }
  bool has_password() const { return !password.empty(); }
};

// The fixed key the header's masked region is RC4-encrypted with.
inline constexpr std::array<std::uint8_t, 4> kHeaderMaskKey{0xC7, 0xDA, 0x39, 0x6B};

// Checks the magic bytes and version and decodes a header page. Returns
// false when the bytes are not a Jet 3/Jet 4 header at all (the caller
// reports 3343); throws 3049 when the header is one but damaged.
bool parse_header_page(const std::uint8_t* page, std::size_t size, const std::string& path,
                       HeaderInfo& out);

// Applies (or removes: RC4 is symmetric) the header mask in place. `page`
// holds at least the header region of the format.
void toggle_header_mask(const JetFormat& format, std::uint8_t* page);

// Applies (or removes) the creation-date mask Jet 4 puts over the password.
void toggle_password_date_mask(const JetFormat& format, std::uint8_t* unmasked_page);

}  // namespace jet

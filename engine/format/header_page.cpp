#include "engine/format/header_page.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/format/rc4.h"
#include "engine/format/text_codec.h"

namespace jet {
namespace {

constexpr std::uint8_t kMagic[4] = {0x00, 0x01, 0x00, 0x00};
constexpr char kJetEngineName[] = "Standard Jet DB";
constexpr char kAceEngineName[] = "Standard ACE DB";  // Access 2007 and later

// The four password-mask bytes Jet 4 derives from the creation date: the
// date's whole-number part as a 32-bit integer (saturating, NaN as 0).
std::array<std::uint8_t, 4> date_mask(double date) {
  std::int32_t whole = 0;
  if (std::isnan(date)) {
    whole = 0;
  } else if (date >= 2147483647.0) {
    whole = std::numeric_limits<std::int32_t>::max();
  } else if (date <= -2147483648.0) {
    whole = std::numeric_limits<std::int32_t>::min();
  } else {
    whole = static_cast<std::int32_t>(date);
  }
  auto u = static_cast<std::uint32_t>(whole);
  return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
          static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

double read_double(const std::uint8_t* p) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  double d = 0;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

}  // namespace

void toggle_header_mask(const JetFormat& format, std::uint8_t* page) {
  rc4_apply(kHeaderMaskKey, page + format.header_masked_offset, format.header_masked_length);
}

void toggle_password_date_mask(const JetFormat& format, std::uint8_t* unmasked_page) {
  if (format.header_creation_date_offset < 0) return;
  auto mask = date_mask(
      read_double(unmasked_page + static_cast<std::size_t>(format.header_creation_date_offset)));
  for (std::uint32_t i = 0; i < format.header_password_size; ++i) {
    unmasked_page[format.header_password_offset + i] ^= mask[i % 4];
  }
}

bool parse_header_page(const std::uint8_t* page, std::size_t size, const std::string& path,
                       HeaderInfo& out) {
  constexpr std::size_t kVersionOffset = 0x14;
  if (size <= kVersionOffset) return false;
  if (std::memcmp(page, kMagic, sizeof kMagic) != 0) return false;
  const bool jet_name = std::memcmp(page + 4, kJetEngineName, sizeof kJetEngineName - 1) == 0;
  const bool ace_name = std::memcmp(page + 4, kAceEngineName, sizeof kAceEngineName - 1) == 0;
  if (!jet_name && !ace_name) return false;
  const std::uint8_t version = page[kVersionOffset];
  const JetFormat* format = format_for_version_byte(version);
  if (format == nullptr) {
    // Bytes 2 and up are ACE versions; one we do not know is most likely a
    // later Access, so the message names the byte.
    if (version < 2) return false;
    throw Error(errc::kUnrecognizedFormat, "Unrecognized database format '" + path + "': ACE version byte " +
                                               std::to_string(version) + " is newer than this engine knows.");
  }
  if (size < format->page_size) damaged("header page is shorter than a page");

  out = HeaderInfo{};
  out.format = format;
  out.version_byte = page[kVersionOffset];
  out.unmasked.assign(page, page + format->page_size);
  std::uint8_t* h = out.unmasked.data();
  toggle_header_mask(*format, h);

  std::span<const std::uint8_t> view(out.unmasked);
  out.code_page = get_u16(view, format->header_code_page_offset);
  out.sort_order = get_u16(view, format->header_sort_order_offset);
  if (format->header_sort_order_size == 4) {
    out.sort_order_version = get_u8(view, format->header_sort_order_offset + 3);
  }
  out.database_key = get_u32(view, format->header_database_key_offset);
  if (format->header_creation_date_offset >= 0) {
    out.creation_date = read_double(h + format->header_creation_date_offset);
  }

  Bytes pwd(h + format->header_password_offset,
            h + format->header_password_offset + format->header_password_size);
  if (format->header_creation_date_offset >= 0) {
    auto mask = date_mask(out.creation_date);
    for (std::size_t i = 0; i < pwd.size(); ++i) pwd[i] ^= mask[i % 4];
  }
  std::u16string text = format->text_is_ucs2() ? decode_ucs2(pwd) : decode_code_page(pwd, out.code_page);
  auto nul = text.find(u'\0');
  if (nul != std::u16string::npos) text.resize(nul);
  out.password = std::move(text);
  return true;
}

}  // namespace jet

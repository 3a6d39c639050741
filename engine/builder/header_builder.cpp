#include "engine/builder/header_builder.h"

#include <cstring>

#include "engine/write/little_endian.h"

namespace jet::build {

namespace {
constexpr std::uint16_t kCodePage = 1252;
constexpr std::uint16_t kGeneralSortOrder = 0x0409;
}  // namespace

HeaderInfo new_header(JetVersion version, double creation_date) {
  const bool jet4 = version == JetVersion::Jet4;
  const JetFormat& f = jet4 ? jet4_format() : jet3_format();
  Bytes page(f.page_size, 0);
  page[1] = 0x01;
  std::memcpy(page.data() + 4, "Standard Jet DB", 15);
  const std::uint8_t version_byte = jet4 ? 0x01 : 0x00;
  page[f.header_version_offset] = version_byte;
  // Small counters a fresh Access file carries at the start of the masked
  // region; nothing reads them, they are kept for likeness.
  page[0x19] = 0x01;
  page[0x1C] = 0x01;
  page[0x1D] = 0x01;
  for (std::uint8_t i = 2; i <= 5; ++i) page[0x18 + 4u * i] = i;
  write::put_u16(page, f.header_code_page_offset, kCodePage);
  write::put_u32(page, f.header_database_key_offset, 0);
  write::put_u16(page, f.header_sort_order_offset, kGeneralSortOrder);
  if (jet4) {
    write::put_u16(page, 0x6A, 0x11A6);
    std::memcpy(page.data() + f.header_creation_date_offset, &creation_date, sizeof creation_date);
    // The (empty) password is stored under the creation-date mask.
    toggle_password_date_mask(f, page.data());
    write::put_u16(page, 0x98, 0x0654);
    std::memcpy(page.data() + 0x9C, "4.0", 3);
    page[0xE00] = 0x01;
    for (std::size_t i = 0xE01; i < page.size(); i += 2) page[i] = 0x01;
  }

  HeaderInfo h;
  h.format = &f;
  h.version_byte = version_byte;
  h.code_page = kCodePage;
  h.sort_order = kGeneralSortOrder;
  h.creation_date = jet4 ? creation_date : 0;
  h.unmasked = std::move(page);
  return h;
}

}  // namespace jet::build

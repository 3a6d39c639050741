#include "engine/builder/header_builder.h"

#include <cstring>

#include "engine/write/little_endian.h"

namespace jet::build {

HeaderInfo new_jet4_header(double creation_date) {
  const JetFormat& f = jet4_format();
  Bytes page(f.page_size, 0);
  page[1] = 0x01;
  std::memcpy(page.data() + 4, "Standard Jet DB", 15);
  page[f.header_version_offset] = 0x01;
  // Small counters a fresh Access 2000 file carries at the start of the
  // masked region; nothing reads them, they are kept for likeness.
  page[0x19] = 0x01;
  page[0x1C] = 0x01;
  page[0x1D] = 0x01;
  for (std::uint8_t i = 2; i <= 5; ++i) page[0x18 + 4u * i] = i;
  write::put_u16(page, f.header_code_page_offset, 1252);
  write::put_u32(page, f.header_database_key_offset, 0);
  write::put_u16(page, 0x6A, 0x11A6);
  write::put_u16(page, f.header_sort_order_offset, 0x0409);
  std::memcpy(page.data() + f.header_creation_date_offset, &creation_date, sizeof creation_date);
  // The (empty) password is stored under the creation-date mask.
  toggle_password_date_mask(f, page.data());
  write::put_u16(page, 0x98, 0x0654);
  std::memcpy(page.data() + 0x9C, "4.0", 3);
  page[0xE00] = 0x01;
  for (std::size_t i = 0xE01; i < page.size(); i += 2) page[i] = 0x01;

  HeaderInfo h;
  h.format = &f;
  h.version_byte = 0x01;
  h.code_page = 1252;
  h.sort_order = 0x0409;
  h.creation_date = creation_date;
  h.unmasked = std::move(page);
  return h;
}

}  // namespace jet::build

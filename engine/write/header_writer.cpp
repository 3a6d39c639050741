#include "engine/write/header_writer.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/format/text_codec.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/little_endian.h"

namespace jet::write {

Bytes build_header_page(const HeaderInfo& source, const std::optional<std::u16string>& new_password) {
  const JetFormat& format = *source.format;
  Bytes page = source.unmasked;
  if (page.size() != format.page_size) throw Error(errc::kCannotOpenDatabase, "Damaged header page.");
  if (new_password) {
    Bytes stored = format.text_is_ucs2() ? encode_ucs2(*new_password) : encode_code_page(*new_password, source.code_page);
    if (stored.size() > format.header_password_size) {
      throw Error(errc::kNotAValidPassword, "Not a valid password: it is longer than the format allows.");
    }
    stored.resize(format.header_password_size, 0);
    // Jet 4 stores the password under a mask made from the creation date.
    toggle_password_date_mask(format, page.data());
    std::copy(stored.begin(), stored.end(), page.begin() + format.header_password_offset);
    toggle_password_date_mask(format, page.data());
  }
  toggle_header_mask(format, page.data());
  return page;
}

Bytes build_free_page_map_page(const WriteFormat& format, const Bytes& source_page1, std::uint32_t page_count) {
  const std::vector<StoredRow> rows = read_data_page_rows(format, source_page1);
  if (rows.empty() || rows[0].bytes.size() < 5 || rows[0].bytes[0] != 0x00) {
    throw Error(errc::kCannotOpenDatabase, "Damaged database: page 1 does not hold the free-page map.");
  }
  DataPageBuilder page(format, get_u32(source_page1, 4));
  Bytes map(rows[0].bytes.size(), 0);
  const std::uint32_t covered = static_cast<std::uint32_t>(map.size() - 5) * 8;
  for (std::uint32_t p = page_count; p < covered; ++p) map[5 + p / 8] = static_cast<std::uint8_t>(map[5 + p / 8] | (1u << (p % 8)));
  page.add(map);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].deleted || rows[i].lookup || rows[i].moved_here) continue;
    page.add(rows[i].bytes);
  }
  return page.page();
}

Bytes blank_free_page_map_page(const WriteFormat& format) {
  DataPageBuilder page(format, 1);
  const Bytes map_row(format.usage_map_row_size(), 0);
  page.add(map_row);
  page.add(map_row);
  return page.page();
}

bool is_free_page_map_page(const WriteFormat& format, const Bytes& page) {
  try {
    build_free_page_map_page(format, page, 0);
    return true;
  } catch (const Error& e) {
    if (e.number() != errc::kCannotOpenDatabase) throw;
    return false;
  } catch (const DamagedData&) {
    return false;
  }
}

}  // namespace jet::write

#pragma once
// Reader half of usage_map_builder.h (a template so tests and checks can
// feed pages from anywhere).
#include "engine/error.h"
#include "engine/write/little_endian.h"

namespace jet::write {

template <typename LoadPage>
std::set<std::uint32_t> read_usage_map(const WriteFormat& format, const Bytes& row, LoadPage load_page) {
  std::set<std::uint32_t> pages;
  if (row.empty()) throw Error(errc::kCannotOpenDatabase, "Empty usage map row.");
  if (row[0] == 0x00) {
    if (row.size() < 5) throw Error(errc::kCannotOpenDatabase, "Short usage map row.");
    const std::uint32_t start = get_u32(row, 1);
    for (std::size_t i = 5; i < row.size(); ++i) {
      for (std::uint32_t bit = 0; bit < 8; ++bit) {
        if ((row[i] >> bit) & 1u) pages.insert(start + static_cast<std::uint32_t>(i - 5) * 8 + bit);
      }
    }
    return pages;
  }
  if (row[0] != 0x01) throw Error(errc::kCannotOpenDatabase, "Unknown usage map type.");
  const std::uint32_t span = format.map_page_span();
  for (std::size_t slot = 0; 1 + 4 * slot + 4 <= row.size(); ++slot) {
    const std::uint32_t map_page = get_u32(row, 1 + 4 * slot);
    if (map_page == 0) continue;
    const Bytes page = load_page(map_page);
    if (page.size() != format.page_size || page[0] != 0x05) throw Error(errc::kCannotOpenDatabase, "Bad usage map page.");
    for (std::size_t i = 4; i < page.size(); ++i) {
      for (std::uint32_t bit = 0; bit < 8; ++bit) {
        if ((page[i] >> bit) & 1u) {
          pages.insert(static_cast<std::uint32_t>(slot) * span + static_cast<std::uint32_t>(i - 4) * 8 + bit);
        }
      }
    }
  }
  return pages;
}

}  // namespace jet::write

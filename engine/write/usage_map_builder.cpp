#include "engine/write/usage_map_builder.h"

#include "engine/error.h"
#include "engine/write/little_endian.h"

namespace jet::write {

namespace {
// Inline maps start on a multiple of 8 so each bitmap byte covers whole octets.
std::uint32_t inline_start(const PageSet& pages) {
  return pages.empty() ? 0 : (pages.first() / 8) * 8;
}
}  // namespace

bool fits_inline_map(const WriteFormat& format, const PageSet& pages) {
  if (pages.empty()) return true;
  return pages.last() - inline_start(pages) < format.inline_map_span();
}

Bytes build_inline_map(const WriteFormat& format, const PageSet& pages) {
  if (!fits_inline_map(format, pages)) throw Error(errc::kCannotOpenDatabase, "Internal error: usage map span too wide for an inline map.");
  Bytes row(format.usage_map_row_size(), 0);
  const std::uint32_t start = inline_start(pages);
  put_u32(row, 1, start);
  pages.for_each([&](std::uint32_t p) {
    const std::uint32_t bit = p - start;
    row[5 + bit / 8] = static_cast<std::uint8_t>(row[5 + bit / 8] | (1u << (bit % 8)));
  });
  return row;
}

std::uint32_t reference_map_pages_needed(const WriteFormat& format, const PageSet& pages) {
  if (pages.empty()) return 0;
  return pages.last() / format.map_page_span() + 1;
}

ReferenceMap build_reference_map(const WriteFormat& format, const PageSet& pages,
                                 const std::vector<std::uint32_t>& map_pages) {
  const std::uint32_t needed = reference_map_pages_needed(format, pages);
  if (map_pages.size() != needed) throw Error(errc::kCannotOpenDatabase, "Internal error: wrong number of usage map pages.");
  const std::uint32_t slots = (format.usage_map_row_size() - 1) / 4;
  if (needed > slots) throw Error(errc::kCannotOpenDatabase, "The database is too large for its usage maps.");
  ReferenceMap map;
  map.row.assign(format.usage_map_row_size(), 0);
  map.row[0] = 0x01;
  for (std::uint32_t i = 0; i < needed; ++i) {
    put_u32(map.row, 1 + 4 * i, map_pages[i]);
    Bytes page(format.page_size, 0);
    page[0] = 0x05;
    page[1] = 0x01;
    map.pages.push_back(std::move(page));
  }
  const std::uint32_t span = format.map_page_span();
  pages.for_each([&](std::uint32_t p) {
    Bytes& page = map.pages[p / span];
    const std::uint32_t bit = p % span;
    page[4 + bit / 8] = static_cast<std::uint8_t>(page[4 + bit / 8] | (1u << (bit % 8)));
  });
  return map;
}

}  // namespace jet::write

#pragma once
// Usage maps: bitmaps of pages, stored as a row. Type 0 ("inline") holds a
// start page and the bitmap itself; type 1 ("reference") holds the numbers
// of usage-map pages (type 0x05), each a bitmap of a fixed range of pages.
#include <cstdint>
#include <span>
#include <vector>

#include "engine/format/jet_format.h"
#include "engine/format/table_definition.h"

namespace jet {

inline constexpr std::uint8_t kUsageMapInline = 0x00;
inline constexpr std::uint8_t kUsageMapReference = 0x01;

// The pages the map marks, ascending. Map pages of a reference map are read
// through `read_page`; a map page that is missing or of the wrong type is
// damaged. Marks for pages at or beyond `page_count` cannot be real pages:
// they are left out (so a damaged map cannot make the list huge) and
// counted in `*beyond_file` when given.
std::vector<PageNumber> decode_usage_map(const JetFormat& format,
                                         std::span<const std::uint8_t> map,
                                         const PageSource& read_page, std::uint32_t page_count,
                                         std::size_t* beyond_file = nullptr);

}  // namespace jet

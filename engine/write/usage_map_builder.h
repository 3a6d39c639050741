#pragma once
// Usage maps: the bitmaps that say which pages belong to a table, an index
// or a long-value column, and which of them have room left. A map is a row
// on a data page. Small sets use an inline map (start page plus bitmap in
// the row); sets spanning more pages use a reference map whose row lists
// separate bitmap pages.
#include <cstdint>
#include <set>
#include <vector>

#include "engine/write/page_set.h"
#include "engine/write/write_format.h"

namespace jet::write {

using Bytes = std::vector<std::uint8_t>;

// True when the pages fit one inline map.
bool fits_inline_map(const WriteFormat& format, const PageSet& pages);

// The inline map row for these pages (empty set: start page 0, no bits).
Bytes build_inline_map(const WriteFormat& format, const PageSet& pages);

// Bitmap pages a reference map needs for these pages: one per covered range,
// up to the highest page in the set.
std::uint32_t reference_map_pages_needed(const WriteFormat& format, const PageSet& pages);

struct ReferenceMap {
  Bytes row;                 // the map row, listing the bitmap pages
  std::vector<Bytes> pages;  // the bitmap pages, in the order of map_pages
};

// Builds a reference map whose bitmap pages will sit at map_pages (one per
// covered range, as counted by reference_map_pages_needed).
ReferenceMap build_reference_map(const WriteFormat& format, const PageSet& pages,
                                 const std::vector<std::uint32_t>& map_pages);

// Reads a map row back into its page set; bitmap pages come from load_page.
template <typename LoadPage>
std::set<std::uint32_t> read_usage_map(const WriteFormat& format, const Bytes& row, LoadPage load_page);

}  // namespace jet::write

#include "engine/write/usage_map_reader.inl"

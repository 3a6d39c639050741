#pragma once
// Parses one index page (0x03 intermediate or 0x04 leaf) into its header
// fields and entries, with the shared prefix put back on every entry.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/index/index_entry.h"
#include "engine/index/index_page_layout.h"

namespace jet::index {

struct IndexPage {
  bool leaf = true;
  std::uint16_t free_space = 0;
  PageNumber owner = 0;  // table-definition page
  PageNumber prev = 0;
  PageNumber next = 0;
  PageNumber tail = 0;
  std::uint16_t prefix_len = 0;
  std::vector<IndexEntry> entries;
};

// Throws jet::Error 3049 naming the page when the bytes are not a sound index
// page: wrong type, entry bitmap past the used area, truncated entries,
// entries out of order.
IndexPage parse_index_page(std::span<const std::uint8_t> page, Format format, PageNumber number);

// One entry as the reader meets it. The key lies in a buffer the reader
// reuses: it is valid only during the visit.
struct EntryView {
  std::span<const std::uint8_t> key;
  RowPointer row;
  PageNumber child = 0;  // intermediate pages only
};

// The same checks without building entries: the header fields come back
// (entries left empty) and `visit` sees each entry in page order. Scans of
// whole trees use this to avoid an allocation per entry.
IndexPage read_index_page(std::span<const std::uint8_t> page, Format format, PageNumber number,
                          const std::function<void(const EntryView&)>& visit);

std::strong_ordering compare_entry_views(const EntryView& a, const EntryView& b);

}  // namespace jet::index

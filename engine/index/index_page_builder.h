#pragma once
// Lays out one index page (leaf or intermediate) from entries already in key
// order: header, entry-end bitmap, the first entry whole and the others with
// the page's shared prefix left off. The pair of parse_index_page.
#include <cstddef>
#include <optional>
#include <vector>

#include "engine/index/index_entry.h"
#include "engine/index/index_page_layout.h"

namespace jet::index {

struct IndexPagePlan {
  bool leaf = true;
  PageNumber owner = 0;  // table-definition page
  PageNumber prev = 0;
  PageNumber next = 0;
  PageNumber tail = 0;   // intermediate pages: the rightmost child
  std::vector<IndexEntry> entries;
  // Shared prefix to use; by default the longest the entries allow. A shorter
  // one (Access often stores none) reproduces an existing page exactly.
  std::optional<std::size_t> prefix_len;
};

// Bytes an entry takes before prefix compression.
std::size_t full_entry_size(const IndexEntry& e, bool leaf);

// Leading bytes two entries share over key and 3-byte row page.
std::size_t common_prefix_length(const IndexEntry& a, const IndexEntry& b);

// The longest run of leading bytes that every entry shares, counting the key
// and the 3-byte row page but never the row number or child pointer (those
// always differ from entry to entry).
std::size_t shared_prefix_length(const std::vector<IndexEntry>& entries, Format format);

// Bytes the entries take on a page with the shared prefix left off.
std::size_t packed_size(const std::vector<IndexEntry>& entries, bool leaf, std::size_t prefix);

// Throws jet::Error 3049 when the entries do not fit one page.
Bytes build_index_page(const IndexPagePlan& plan, Format format);

}  // namespace jet::index

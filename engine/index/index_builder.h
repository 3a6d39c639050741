#pragma once
// Lays out a fresh, dense index B-tree from entries already in key order:
// leaves packed as full as a page allows (with prefix compression), linked
// left to right, and intermediate levels above them until one root page
// remains. Compaction calls this to rebuild every index of a table.
#include <functional>
#include <vector>

#include "engine/index/index_entry.h"
#include "engine/index/index_page_layout.h"

namespace jet::index {

// Hands out the page number for the next page the builder lays out. Pages are
// requested leaves first, left to right, then level by level up to the root.
using PageAllocator = std::function<PageNumber()>;

struct BuiltPage {
  PageNumber number = 0;
  Bytes bytes;
};

struct BuiltIndex {
  PageNumber root = 0;           // goes into the index definition
  std::vector<BuiltPage> pages;  // in allocation order; the root is last
  int depth = 0;                 // 1 = the root is the only leaf
  std::size_t entries = 0;
  // Different keys among the entries: what a freshly built index carries as
  // its count in the table definition (Access only ever raises that count
  // while the index lives, and compaction resets it).
  std::size_t distinct_keys = 0;
};

// `owner` is the table-definition page written into every page header.
// Throws jet::Error 3049 when the entries are not strictly ordered or one
// entry is too large for a page.
BuiltIndex build_index_tree(const std::vector<IndexEntry>& entries, Format format, PageNumber owner,
                            const PageAllocator& allocate);

}  // namespace jet::index

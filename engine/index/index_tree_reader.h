#pragma once
// Reads a whole index B-tree in key order by descending from its root:
// every intermediate page's entries name their children left to right, and
// its tail pointer names the rightmost child, which has no entry.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/index/index_entry.h"
#include "engine/index/index_page_layout.h"
#include "engine/index/index_page_reader.h"

namespace jet::index {

// Returns the bytes of one database page; throws jet::Error for a page
// number outside the file.
using PageFetcher = std::function<Bytes(PageNumber)>;
// The same for readers that share cached pages instead of copying them.
using SharedPageFetcher = std::function<std::shared_ptr<const Bytes>(PageNumber)>;

// What a walk learns about the tree besides its entries.
struct IndexTreeShape {
  std::vector<PageNumber> leaves;  // leaf pages left to right
  std::vector<PageNumber> pages;   // every page of the tree, in visiting order
  int depth = 0;                   // 1 = the root is a leaf
  std::size_t entry_count = 0;     // leaf entries
  // Soft damage that does not stop reading: sibling links that disagree with
  // the descent, intermediate entries that do not repeat their child's last
  // entry, pages owned by another table.
  std::vector<std::string> notes;
};

struct IndexTree {
  std::vector<IndexEntry> entries;  // leaf entries in key order
  std::vector<PageNumber> leaves;   // leaf pages left to right
  std::vector<PageNumber> pages;    // every page of the tree, in visiting order
  int depth = 0;                    // 1 = the root is a leaf
  std::vector<std::string> notes;   // as IndexTreeShape::notes
};

// Throws jet::Error 3049 for a page that is not a sound index page, a cycle,
// leaves at different depths or entries out of order across pages.
IndexTree read_index_tree(const PageFetcher& fetch, PageNumber root, Format format,
                          PageNumber owner = 0);

// The same walk and the same checks, handing each leaf entry to `visit` in
// key order instead of keeping it (the view is valid only during the call),
// so a large index costs no memory per entry.
IndexTreeShape walk_index_tree(const SharedPageFetcher& fetch, PageNumber root, Format format, PageNumber owner,
                               const std::function<void(const EntryView&)>& visit);

}  // namespace jet::index

#include "engine/index/index_tree_reader.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <set>

#include "engine/error.h"

namespace jet::index {
namespace {

// Deep enough for any tree a 2 GB file can hold; stops runaway recursion on
// crafted files.
constexpr int kMaxDepth = 32;

[[noreturn]] void damaged(const std::string& what) {
  throw Error(errc::kCannotOpenDatabase, "Index is damaged: " + what + ".");
}

bool same_key(const Bytes& a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

struct Walker {
  Walker(const SharedPageFetcher& f, Format fmt, PageNumber own, const std::function<void(const EntryView&)>& v)
      : fetch(f), format(fmt), owner(own), visit_entry(v) {}

  const SharedPageFetcher& fetch;
  Format format;
  PageNumber owner;
  const std::function<void(const EntryView&)>& visit_entry;
  IndexTreeShape tree;
  std::set<PageNumber> visited;
  int leaf_depth = 0;
  PageNumber last_leaf_next = 0;
  // The last leaf entry so far (for the order across pages and the parent's
  // cross-check); its key is copied because views do not outlive the visit.
  bool has_last = false;
  Bytes last_key;
  RowPointer last_row;
  // A parent entry that sorts past its child's last entry: Access leaves
  // one when it deletes the rows at a child's end. It still separates the
  // children as long as the next child's first entry sorts after it.
  std::optional<std::pair<Bytes, RowPointer>> open_separator;
  PageNumber open_separator_page = 0;

  void visit(PageNumber number, int depth) {
    if (number == 0) damaged("a child pointer is zero");
    if (depth > kMaxDepth) damaged("the tree is deeper than " + std::to_string(kMaxDepth) + " levels");
    if (!visited.insert(number).second) damaged("page " + std::to_string(number) + " is reached twice");
    const std::shared_ptr<const Bytes> bytes = fetch(number);
    const bool leaf = !bytes->empty() && (*bytes)[0] == kLeafPageType;
    if (leaf) {
      visit_leaf(number, depth, *bytes);
    } else {
      visit_node(number, depth, parse_index_page(*bytes, format, number));
    }
  }

  void check_owner(PageNumber number, const IndexPage& page) {
    tree.pages.push_back(number);
    if (owner != 0 && page.owner != owner) {
      tree.notes.push_back("page " + std::to_string(number) + " names table " + std::to_string(page.owner) +
                           " instead of " + std::to_string(owner));
    }
  }

  void visit_leaf(PageNumber number, int depth, const Bytes& bytes) {
    IndexPage page = read_index_page(bytes, format, number, [&](const EntryView& e) {
      // Entries are delivered only once the whole page has read cleanly.
      pending_keys.insert(pending_keys.end(), e.key.begin(), e.key.end());
      pending_ends.push_back(pending_keys.size());
      pending_rows.push_back(e.row);
    });
    check_owner(number, page);
    if (leaf_depth == 0) leaf_depth = depth;
    if (depth != leaf_depth) damaged("leaf page " + std::to_string(number) + " is at a different depth");
    const PageNumber expected_prev = tree.leaves.empty() ? 0 : tree.leaves.back();
    if (page.prev != expected_prev) {
      tree.notes.push_back("leaf " + std::to_string(number) + " links back to " + std::to_string(page.prev) +
                           " instead of " + std::to_string(expected_prev));
    }
    if (!tree.leaves.empty()) check_forward_link(number);
    tree.leaves.push_back(number);
    last_leaf_next = page.next;
    std::size_t from = 0;
    for (std::size_t i = 0; i < pending_rows.size(); ++i) {
      const std::span<const std::uint8_t> key(pending_keys.data() + from, pending_ends[i] - from);
      // Within the page the reader has checked the order; across pages here.
      if (i == 0 && has_last && compare_entry_views(EntryView{last_key, last_row, 0}, EntryView{key, pending_rows[i], 0}) >= 0) {
        damaged("entries on leaf page " + std::to_string(number) + " sort before those of the previous leaf");
      }
      if (i == 0 && open_separator) {
        if (compare_entry_views(EntryView{open_separator->first, open_separator->second, 0},
                                EntryView{key, pending_rows[i], 0}) >= 0) {
          tree.notes.push_back("intermediate page " + std::to_string(open_separator_page) +
                               " has an entry that sorts after the first entry of leaf " + std::to_string(number));
        }
        open_separator.reset();
      }
      visit_entry(EntryView{key, pending_rows[i], 0});
      ++tree.entry_count;
      if (i + 1 == pending_rows.size()) {
        last_key.assign(key.begin(), key.end());
        last_row = pending_rows[i];
        has_last = true;
      }
      from = pending_ends[i];
    }
    pending_keys.clear();
    pending_ends.clear();
    pending_rows.clear();
  }

  void visit_node(PageNumber number, int depth, const IndexPage& page) {
    check_owner(number, page);
    if (page.entries.empty() && page.tail == 0) damaged("intermediate page " + std::to_string(number) + " has no children");
    for (const auto& e : page.entries) {
      const std::size_t before = tree.entry_count;
      visit(e.child, depth + 1);
      if (tree.entry_count == before || !has_last) {
        tree.notes.push_back("intermediate page " + std::to_string(number) + " entry for child " +
                             std::to_string(e.child) + " has no entries under it");
      } else if (!same_key(e.key, last_key) || last_row != e.row) {
        if (compare_entry_views(EntryView{e.key, e.row, 0}, EntryView{last_key, last_row, 0}) < 0) {
          tree.notes.push_back("intermediate page " + std::to_string(number) + " entry for child " +
                               std::to_string(e.child) + " sorts before the child's last entry");
        } else {
          open_separator.emplace(Bytes(e.key.begin(), e.key.end()), e.row);
          open_separator_page = number;
        }
      }
    }
    if (page.tail != 0) visit(page.tail, depth + 1);
  }

  void check_forward_link(PageNumber number) {
    if (last_leaf_next != number) {
      tree.notes.push_back("leaf " + std::to_string(tree.leaves.back()) + " links forward to " +
                           std::to_string(last_leaf_next) + " instead of " + std::to_string(number));
    }
  }

  // One leaf's entries, held until the whole page has read cleanly: keys
  // end to end, with where each ends.
  Bytes pending_keys;
  std::vector<std::size_t> pending_ends;
  std::vector<RowPointer> pending_rows;
};

}  // namespace

IndexTreeShape walk_index_tree(const SharedPageFetcher& fetch, PageNumber root, Format format, PageNumber owner,
                               const std::function<void(const EntryView&)>& visit) {
  if (root == 0) damaged("the index has no root page");
  Walker w(fetch, format, owner, visit);
  w.visit(root, 1);
  if (w.last_leaf_next != 0) {
    w.tree.notes.push_back("last leaf links forward to " + std::to_string(w.last_leaf_next));
  }
  w.tree.depth = w.leaf_depth;
  return std::move(w.tree);
}

IndexTree read_index_tree(const PageFetcher& fetch, PageNumber root, Format format, PageNumber owner) {
  IndexTree tree;
  IndexTreeShape shape = walk_index_tree(
      [&fetch](PageNumber n) { return std::make_shared<const Bytes>(fetch(n)); }, root, format, owner,
      [&tree](const EntryView& e) { tree.entries.push_back(IndexEntry{Bytes(e.key.begin(), e.key.end()), e.row, 0}); });
  tree.leaves = std::move(shape.leaves);
  tree.pages = std::move(shape.pages);
  tree.depth = shape.depth;
  tree.notes = std::move(shape.notes);
  return tree;
}

}  // namespace jet::index

#include "engine/index/index_tree_reader.h"

#include <set>

#include "engine/error.h"
#include "engine/index/index_page_reader.h"

namespace jet::index {
namespace {

// Deep enough for any tree a 2 GB file can hold; stops runaway recursion on
// crafted files.
constexpr int kMaxDepth = 32;

[[noreturn]] void damaged(const std::string& what) {
  throw Error(errc::kCannotOpenDatabase, "Index is damaged: " + what + ".");
}

struct Walker {
  Walker(const PageFetcher& f, Format fmt, PageNumber own) : fetch(f), format(fmt), owner(own) {}

  const PageFetcher& fetch;
  Format format;
  PageNumber owner;
  IndexTree tree;
  std::set<PageNumber> visited;
  int leaf_depth = 0;
  PageNumber last_leaf_next = 0;

  // Returns the last entry under this page (for the parent's cross-check).
  const IndexEntry* visit(PageNumber number, int depth) {
    if (number == 0) damaged("a child pointer is zero");
    if (depth > kMaxDepth) damaged("the tree is deeper than " + std::to_string(kMaxDepth) + " levels");
    if (!visited.insert(number).second) damaged("page " + std::to_string(number) + " is reached twice");
    const Bytes bytes = fetch(number);
    IndexPage page = parse_index_page(bytes, format, number);
    tree.pages.push_back(number);
    if (owner != 0 && page.owner != owner) {
      tree.notes.push_back("page " + std::to_string(number) + " names table " + std::to_string(page.owner) +
                           " instead of " + std::to_string(owner));
    }
    if (page.leaf) return visit_leaf(number, depth, page);
    return visit_node(number, depth, page);
  }

  const IndexEntry* visit_leaf(PageNumber number, int depth, IndexPage& page) {
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
    for (auto& e : page.entries) {
      if (!tree.entries.empty() && compare_entries(tree.entries.back(), e) >= 0) {
        damaged("entries on leaf page " + std::to_string(number) + " sort before those of the previous leaf");
      }
      tree.entries.push_back(std::move(e));
    }
    return tree.entries.empty() ? nullptr : &tree.entries.back();
  }

  const IndexEntry* visit_node(PageNumber number, int depth, const IndexPage& page) {
    if (page.entries.empty() && page.tail == 0) damaged("intermediate page " + std::to_string(number) + " has no children");
    const IndexEntry* last = nullptr;
    for (const auto& e : page.entries) {
      const std::size_t before = tree.entries.size();
      last = visit(e.child, depth + 1);
      if (tree.entries.size() == before || last == nullptr || last->key != e.key || last->row != e.row) {
        tree.notes.push_back("intermediate page " + std::to_string(number) + " entry for child " +
                             std::to_string(e.child) + " does not repeat the child's last entry");
      }
    }
    if (page.tail != 0) last = visit(page.tail, depth + 1);
    return last;
  }

  void check_forward_link(PageNumber number) {
    if (last_leaf_next != number) {
      tree.notes.push_back("leaf " + std::to_string(tree.leaves.back()) + " links forward to " +
                           std::to_string(last_leaf_next) + " instead of " + std::to_string(number));
    }
  }
};

}  // namespace

IndexTree read_index_tree(const PageFetcher& fetch, PageNumber root, Format format, PageNumber owner) {
  if (root == 0) damaged("the index has no root page");
  Walker w(fetch, format, owner);
  w.visit(root, 1);
  if (w.last_leaf_next != 0) {
    w.tree.notes.push_back("last leaf links forward to " + std::to_string(w.last_leaf_next));
  }
  w.tree.depth = w.leaf_depth;
  return std::move(w.tree);
}

}  // namespace jet::index

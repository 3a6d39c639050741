#include "engine/index/index_builder.h"

#include <algorithm>
#include <string>

#include "engine/error.h"
#include "engine/index/index_page_builder.h"

namespace jet::index {
namespace {

// Splits items into page-sized runs. On intermediate pages the last item of a
// run costs nothing: its child becomes the page's tail pointer, so only the
// items before it are stored.
std::vector<std::vector<IndexEntry>> pack(const std::vector<IndexEntry>& items, bool leaf, Format format) {
  const std::size_t room = layout_for(format).max_entry_bytes();
  const std::size_t prefix_cap = format == Format::Jet3 ? 255 : room;
  constexpr std::size_t kUnbounded = static_cast<std::size_t>(-1);

  std::vector<std::vector<IndexEntry>> runs;
  std::vector<IndexEntry> run;
  std::size_t sum = 0, count = 0, lcp = kUnbounded;  // over the stored entries of `run`
  auto start_run = [&](const IndexEntry& item) {
    const std::size_t size = full_entry_size(item, leaf);
    if (leaf && size > room) {
      throw Error(errc::kCannotOpenDatabase,
                  "An index key of " + std::to_string(item.key.size()) + " bytes does not fit an index page.");
    }
    run.assign(1, item);
    sum = leaf ? size : 0;
    count = leaf ? 1 : 0;
    lcp = kUnbounded;
  };
  for (const auto& item : items) {
    if (run.empty()) {
      start_run(item);
      continue;
    }
    // The entry that joins the stored ones: the item itself on a leaf, the
    // current last item (no longer the tail) on an intermediate page.
    const IndexEntry& joining = leaf ? item : run.back();
    const std::size_t new_sum = sum + full_entry_size(joining, leaf);
    const std::size_t new_count = count + 1;
    const std::size_t new_lcp = count == 0 ? kUnbounded : std::min(lcp, common_prefix_length(run.front(), joining));
    const std::size_t stored = new_sum - (new_count - 1) * std::min(new_lcp, prefix_cap);
    if (stored > room) {
      runs.push_back(std::move(run));
      start_run(item);
      continue;
    }
    run.push_back(item);
    sum = new_sum;
    count = new_count;
    lcp = new_lcp;
  }
  if (!run.empty()) runs.push_back(std::move(run));
  return runs;
}

}  // namespace

BuiltIndex build_index_tree(const std::vector<IndexEntry>& entries, Format format, PageNumber owner,
                            const PageAllocator& allocate) {
  for (std::size_t i = 1; i < entries.size(); ++i) {
    if (compare_entries(entries[i - 1], entries[i]) >= 0) {
      throw Error(errc::kCannotOpenDatabase, "Index entries to build are not in strictly increasing order.");
    }
  }
  BuiltIndex out;
  out.entries = entries.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i == 0 || entries[i].key != entries[i - 1].key) ++out.distinct_keys;
  }
  if (entries.empty()) {
    out.root = allocate();
    out.pages.push_back({out.root, build_index_page({true, owner, 0, 0, 0, {}, std::nullopt}, format)});
    out.depth = 1;
    return out;
  }

  std::vector<IndexEntry> items = entries;
  bool leaf = true;
  for (;;) {
    ++out.depth;
    const auto runs = pack(items, leaf, format);
    std::vector<PageNumber> numbers;
    for (std::size_t i = 0; i < runs.size(); ++i) numbers.push_back(allocate());
    std::vector<IndexEntry> parents;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      IndexPagePlan plan{leaf, owner, i == 0 ? 0 : numbers[i - 1], i + 1 == runs.size() ? 0 : numbers[i + 1], 0,
                         runs[i], std::nullopt};
      if (!leaf) {
        plan.tail = plan.entries.back().child;
        plan.entries.pop_back();
      }
      out.pages.push_back({numbers[i], build_index_page(plan, format)});
      // The parent entry repeats the last leaf entry under this page.
      parents.push_back({runs[i].back().key, runs[i].back().row, numbers[i]});
    }
    if (runs.size() == 1) {
      out.root = numbers.front();
      return out;
    }
    items = std::move(parents);
    leaf = false;
  }
}

}  // namespace jet::index

#pragma once
// A set of page numbers held as sorted runs of consecutive pages. A usage
// map lists every page of a table, an index or a long-value column; pages
// are handed out in ascending order, so a table's pages form a few long runs
// and the set costs a few bytes per run instead of a tree node per page.
#include <cstdint>
#include <set>
#include <vector>

namespace jet::write {

class PageSet {
 public:
  PageSet() = default;
  PageSet(std::initializer_list<std::uint32_t> pages) { insert(pages.begin(), pages.end()); }
  // From an ordered set (tests and small maps).
  PageSet(const std::set<std::uint32_t>& pages) { insert(pages.begin(), pages.end()); }  // NOLINT: implicit on purpose

  void insert(std::uint32_t page);
  template <typename It>
  void insert(It first, It last) {
    for (; first != last; ++first) insert(*first);
  }

  bool empty() const { return runs_.empty(); }
  std::uint32_t first() const { return runs_.front().first; }
  std::uint32_t last() const { return runs_.back().last; }

  // Calls `visit` for every page, in ascending order.
  template <typename Visit>
  void for_each(Visit visit) const {
    for (const Run& r : runs_) {
      for (std::uint64_t p = r.first; p <= r.last; ++p) visit(static_cast<std::uint32_t>(p));
    }
  }

  std::set<std::uint32_t> to_set() const;

 private:
  struct Run {
    std::uint32_t first;
    std::uint32_t last;  // inclusive
  };
  std::vector<Run> runs_;
};

}  // namespace jet::write

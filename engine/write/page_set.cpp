#include "engine/write/page_set.h"

#include <algorithm>

namespace jet::write {

void PageSet::insert(std::uint32_t page) {
  // The common case: the next page after the last run, or a new run after it.
  if (runs_.empty() || page > std::uint64_t{runs_.back().last} + 1) {
    runs_.push_back(Run{page, page});
    return;
  }
  if (page == std::uint64_t{runs_.back().last} + 1) {
    runs_.back().last = page;
    return;
  }
  // Otherwise find the first run that ends at or after page - 1.
  auto it = std::lower_bound(runs_.begin(), runs_.end(), page, [](const Run& r, std::uint32_t p) {
    return std::uint64_t{r.last} + 1 < p;
  });
  if (it != runs_.end() && page >= it->first && page <= it->last) return;
  if (it != runs_.end() && std::uint64_t{it->last} + 1 == page) {
    it->last = page;
    const auto next = it + 1;
    if (next != runs_.end() && next->first == std::uint64_t{page} + 1) {
      it->last = next->last;
      runs_.erase(next);
    }
    return;
  }
  if (it != runs_.end() && std::uint64_t{page} + 1 == it->first) {
    it->first = page;
    return;
  }
  runs_.insert(it, Run{page, page});
}

std::set<std::uint32_t> PageSet::to_set() const {
  std::set<std::uint32_t> pages;
  for_each([&](std::uint32_t p) { pages.insert(pages.end(), p); });
  return pages;
}

}  // namespace jet::write

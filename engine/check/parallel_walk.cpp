#include "engine/check/parallel_walk.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/check/shared_work.h"
#include "engine/read/database.h"

namespace jet::check {

WalkTotals walk_pages(const WalkSetup& setup, std::span<Database* const> handles, PageNumber stretch_pages,
                      const std::function<void(Stretch&&)>& take) {
  const PageNumber pages = handles.front()->page_count();
  const PageNumber size = std::max<PageNumber>(stretch_pages, 1);
  const std::size_t count = pages <= 1 ? 0 : (std::size_t{pages} - 1 + size - 1) / size;

  ChainedPages chained(pages);
  std::vector<std::unique_ptr<PageWalker>> walkers;
  for (Database* handle : handles) walkers.push_back(std::make_unique<PageWalker>(setup, *handle, chained));
  // Stretches walked before those ahead of them wait here for their turn.
  std::mutex handing_on;
  std::vector<std::optional<Stretch>> waiting(count);
  std::size_t next = 0;
  share_out(count, walkers.size(), [&](std::size_t i, std::size_t worker) {
    const auto first = static_cast<PageNumber>(1 + i * size);
    Stretch walked = walkers[worker]->walk(first, std::min<PageNumber>(pages, first + size));
    std::lock_guard lock(handing_on);
    waiting[i] = std::move(walked);
    for (; next < count && waiting[next]; ++next) {
      take(std::move(*waiting[next]));
      waiting[next].reset();
    }
  });
  WalkTotals totals = std::move(walkers[0]->totals());
  for (std::size_t k = 1; k < walkers.size(); ++k) totals.absorb(walkers[k]->totals());
  return totals;
}

}  // namespace jet::check

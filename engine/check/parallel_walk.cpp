#include "engine/check/parallel_walk.h"

#include <algorithm>

#include "engine/check/shared_work.h"
#include "engine/read/database.h"

namespace jet::check {

WalkResult walk_pages(const WalkSetup& setup, std::span<Database* const> handles, PageNumber stretch_pages) {
  const PageNumber pages = handles.front()->page_count();
  const PageNumber size = std::max<PageNumber>(stretch_pages, 1);
  const std::size_t count = pages <= 1 ? 0 : (std::size_t{pages} - 1 + size - 1) / size;

  ChainedPages chained(pages);
  std::vector<std::unique_ptr<PageWalker>> walkers;
  for (Database* handle : handles) walkers.push_back(std::make_unique<PageWalker>(setup, *handle, chained));
  WalkResult result;
  result.stretches.resize(count);
  share_out(count, walkers.size(), [&](std::size_t i, std::size_t worker) {
    const auto first = static_cast<PageNumber>(1 + i * size);
    result.stretches[i] = walkers[worker]->walk(first, std::min<PageNumber>(pages, first + size));
  });
  result.totals = std::move(walkers[0]->totals());
  for (std::size_t k = 1; k < walkers.size(); ++k) result.totals.absorb(walkers[k]->totals());
  return result;
}

}  // namespace jet::check

#include "engine/check/parallel_walk.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

#include "engine/error.h"
#include "engine/read/database.h"

namespace jet::check {

WalkResult walk_pages(const WalkSetup& setup, Database& db, const WalkPlan& plan) {
  const PageNumber pages = db.page_count();
  const PageNumber size = std::max<PageNumber>(plan.stretch_pages, 1);
  const std::size_t count = pages <= 1 ? 0 : (std::size_t{pages} - 1 + size - 1) / size;

  // Sibling handles are opened here, on the caller's thread: an Env need
  // not take calls from several threads, only its open files' reads.
  std::vector<std::unique_ptr<Database>> handles;
  for (unsigned k = 1; k < plan.threads && k < count; ++k) {
    try {
      handles.push_back(db.open_sibling());
    } catch (const Error&) {
      break;  // the walkers there are share the pages
    }
  }
  std::vector<std::unique_ptr<PageWalker>> walkers;
  walkers.push_back(std::make_unique<PageWalker>(setup, db));
  for (const auto& handle : handles) walkers.push_back(std::make_unique<PageWalker>(setup, *handle));

  std::vector<Stretch> stretches(count);
  std::vector<std::exception_ptr> failures(count);
  std::atomic<std::size_t> next{0};
  auto work = [&](PageWalker& walker) {
    for (std::size_t i = next++; i < count; i = next++) {
      const auto first = static_cast<PageNumber>(1 + i * size);
      const PageNumber end = std::min<PageNumber>(pages, first + size);
      try {
        stretches[i] = walker.walk(first, end);
      } catch (...) {
        failures[i] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t k = 1; k < walkers.size(); ++k) {
    try {
      threads.emplace_back(work, std::ref(*walkers[k]));
    } catch (const std::system_error&) {
      break;  // no more threads: this one takes what is left
    }
  }
  work(*walkers[0]);
  for (std::thread& t : threads) t.join();

  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
  WalkResult result;
  result.stretches = std::move(stretches);
  result.totals = std::move(walkers[0]->totals());
  for (std::size_t k = 1; k < walkers.size(); ++k) result.totals.absorb(walkers[k]->totals());
  return result;
}

}  // namespace jet::check

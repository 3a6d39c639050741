#pragma once
// Walks every page after the header on one thread or several. The pages are
// cut into stretches of consecutive pages that the walkers take in turn;
// the stretches come back in page order whichever walker took them, so the
// result does not depend on how the work was shared out.
#include <cstdint>
#include <vector>

#include "engine/check/page_walk.h"

namespace jet {
class Database;
}

namespace jet::check {

struct WalkPlan {
  unsigned threads = 1;              // walkers, the caller's thread among them
  PageNumber stretch_pages = 2048;   // pages a walker takes at a time
};

struct WalkResult {
  std::vector<Stretch> stretches;  // in page order
  WalkTotals totals;               // of all the walkers
};

// The caller's thread walks with `db`; each other walker reads through a
// handle of its own (Database::open_sibling). When no further handle can be
// opened or no thread started, fewer walkers share the pages. An exception
// a walker meets is thrown here, the one of the earliest stretch first, as
// the walk in page order would have met it.
WalkResult walk_pages(const WalkSetup& setup, Database& db, const WalkPlan& plan);

}  // namespace jet::check

#pragma once
// Walks every page after the header on one thread or several. The pages are
// cut into stretches of consecutive pages that the walkers take in turn;
// the stretches come back in page order whichever walker took them, so the
// result does not depend on how the work was shared out.
#include <cstdint>
#include <span>
#include <vector>

#include "engine/check/page_walk.h"

namespace jet {
class Database;
}

namespace jet::check {

struct WalkResult {
  std::vector<Stretch> stretches;  // in page order
  WalkTotals totals;               // of all the walkers
};

// One walker per handle, each on its own thread (the first on the caller's);
// the handles are open on the same file and used by their walker alone. An
// exception a walker meets is thrown here, the one of the earliest stretch,
// as the walk in page order would have met it.
WalkResult walk_pages(const WalkSetup& setup, std::span<Database* const> handles, PageNumber stretch_pages);

}  // namespace jet::check

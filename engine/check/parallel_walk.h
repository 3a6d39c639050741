#pragma once
// Walks every page after the header on one thread or several. The pages are
// cut into stretches of consecutive pages that the walkers take in turn;
// each stretch is handed on in page order whichever walker took it, so the
// result does not depend on how the work was shared out, and only the
// stretches walked ahead of their turn wait in memory.
#include <cstdint>
#include <functional>
#include <span>

#include "engine/check/page_walk.h"

namespace jet {
class Database;
}

namespace jet::check {

// One walker per handle, each on its own thread (the first on the caller's);
// the handles are open on the same file and used by their walker alone.
// `take` gets every stretch, in page order and one call at a time, on the
// thread of whichever walker completes the run; it may write the ledger's
// entries of long-value pages, which no walker reads. Returns the walkers'
// totals. An exception a walker meets is thrown here, the one of the
// earliest stretch, as the walk in page order would have met it.
WalkTotals walk_pages(const WalkSetup& setup, std::span<Database* const> handles, PageNumber stretch_pages,
                      const std::function<void(Stretch&&)>& take);

}  // namespace jet::check

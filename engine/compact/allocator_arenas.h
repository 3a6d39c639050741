#pragma once
// For the programs that compact: the C library's allocator gives each thread
// that allocates an arena of its own (up to eight per core), and memory a
// thread frees stays in its arena. The compactor's threads come and go by
// the dozen on a large file (key runs, batches, the page sink), so a 2 GB
// compaction held 10-15 MB more than it used. Two arenas keep the compactor
// within its memory budget at no measurable cost in time on two cores.
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace jet {

// Call once at the start of main(), before any thread is started.
inline void limit_allocator_arenas() {
#if defined(__GLIBC__)
  mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace jet

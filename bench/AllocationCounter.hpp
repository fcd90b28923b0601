#pragma once

// Counts heap allocations in the benchmark program: every call of the global operator new, and
// (where the C library allows it, and no sanitizer owns malloc) every malloc, calloc and realloc
// of the whole process, libtcod and SDL included.

#include <cstddef>

namespace bench {

struct Allocations {
  std::size_t news;     // global operator new (and new[]) calls
  std::size_t mallocs;  // malloc, calloc and realloc calls, or 0 when not counted
};

Allocations allocationsSoFar();
// Whether mallocs are counted in this build.
bool countsMallocs();

}  // namespace bench

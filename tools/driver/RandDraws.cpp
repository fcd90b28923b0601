#include "RandDraws.hpp"

namespace {

long long draws = 0;  // only the game's thread draws

}  // namespace

long long randDraws() {
  return draws;
}

// The linker sends the game's rand() calls here (--wrap=rand) and `__real_rand` to the C
// library's rand(), so the numbers the game gets are unchanged.
extern "C" int __real_rand();
extern "C" int __wrap_rand() {
  ++draws;
  return __real_rand();
}

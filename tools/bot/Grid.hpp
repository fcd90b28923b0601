#pragma once

// Steps and distances on the level, as the bot reckons them (the steps are the game's own
// kSteps, indexed by Direction; harness::moveKey gives the key that takes each).

#include <cmath>
#include <cstdlib>

#include "Entity.hpp"
#include "Map.hpp"

namespace bot {

// The Direction number of the step (dx, dy), or -1 when it is not one step.
inline int directionTo(int dx, int dy) {
  for (std::size_t d = 0; d < kSteps.size(); ++d) {
    if (kSteps[d].dx == dx && kSteps[d].dy == dy) return static_cast<int>(d);
  }
  return -1;
}

// Steps between two cells when diagonal steps count as one: 1 means side by side.
inline int chebyshev(int x1, int y1, int x2, int y2) {
  return std::max(std::abs(x1 - x2), std::abs(y1 - y2));
}

// Straight-line distance, as creatures measure how far they see.
inline double euclid(int x1, int y1, int x2, int y2) {
  return std::hypot(x1 - x2, y1 - y2);
}

// Whether the bot may walk over (x, y): explored ground it can walk on, or, when
// `guessUnknown`, any cell not explored yet.
inline bool mayWalk(const Map& map, int x, int y, bool guessUnknown) {
  if (!map.contains(x, y)) return false;
  return map.tileAt(x, y).explored ? map.isWalkable(x, y) : guessUnknown;
}

}  // namespace bot

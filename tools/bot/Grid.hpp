#pragma once

// Steps and distances on the level, as the bot reckons them.

#include <array>
#include <cmath>
#include <cstdlib>

#include "Map.hpp"

namespace bot {

struct Step {
  int dx;
  int dy;
  char key;  // the key that takes this step
};

// Indexed by the game's Direction numbers.
constexpr std::array<Step, 8> kSteps = {{
    // dx, dy, key
    {-1, 0, 'h'},   // west
    {+1, 0, 'l'},   // east
    {0, -1, 'k'},   // north
    {0, +1, 'j'},   // south
    {-1, -1, 'y'},  // north-west
    {+1, -1, 'u'},  // north-east
    {-1, +1, 'b'},  // south-west
    {+1, +1, 'n'},  // south-east
}};

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

#pragma once

// Steps and distances on the level, as the bot reckons them (the steps are the game's own
// kSteps, indexed by Direction; harness::moveKey gives the key that takes each).

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <deque>
#include <vector>

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

// One value for every cell of the level, row by row. Cells are numbered by index(x, y); a
// number outside the level is never made.
template <typename T>
class Grid {
 public:
  Grid() = default;
  Grid(int width, int height, T initial)
      : columns(width), rows(height), values(static_cast<std::size_t>(width * height), initial) {}

  int width() const { return columns; }
  auto begin() const { return values.begin(); }
  auto end() const { return values.end(); }
  int height() const { return rows; }
  std::size_t size() const { return values.size(); }
  bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < columns && y < rows; }
  std::size_t index(int x, int y) const { return static_cast<std::size_t>(y * columns + x); }
  int xOf(std::size_t cell) const { return static_cast<int>(cell) % columns; }
  int yOf(std::size_t cell) const { return static_cast<int>(cell) / columns; }

  typename std::vector<T>::reference operator[](std::size_t cell) { return values[cell]; }
  typename std::vector<T>::const_reference operator[](std::size_t cell) const {
    return values[cell];
  }
  typename std::vector<T>::reference at(int x, int y) { return values[index(x, y)]; }
  typename std::vector<T>::const_reference at(int x, int y) const { return values[index(x, y)]; }

 private:
  int columns = 0;
  int rows = 0;
  std::vector<T> values;
};

// The shortest walks of a breadth-first search: steps from the nearest start, and the direction
// of the first step out of a start.
struct Walks {
  Grid<int> distance;   // -1 where no walk reaches, 0 at a start
  Grid<int> firstStep;  // a Direction; -1 at the starts and where no walk reaches
};

// Breadth-first over the game's eight steps (kSteps, in Direction order) from `starts`, on a
// level of `width` x `height`. A cell inside the level is reached when `enter(x, y)` holds, and
// walked on from only when `passThrough(x, y)` holds as well (a creature's cell can be reached
// to strike it, not walked through).
template <typename Enter, typename PassThrough>
Walks breadthFirst(int width, int height, const std::vector<std::size_t>& starts, Enter&& enter,
                   PassThrough&& passThrough) {
  Walks walks{Grid<int>(width, height, -1), Grid<int>(width, height, -1)};
  std::deque<std::size_t> queue;
  for (const std::size_t start : starts) {
    walks.distance[start] = 0;
    queue.push_back(start);
  }
  while (!queue.empty()) {
    const std::size_t cell = queue.front();
    queue.pop_front();
    const int x = walks.distance.xOf(cell);
    const int y = walks.distance.yOf(cell);
    for (std::size_t d = 0; d < kSteps.size(); ++d) {
      const int nx = x + kSteps[d].dx;
      const int ny = y + kSteps[d].dy;
      if (!walks.distance.contains(nx, ny) || !enter(nx, ny)) continue;
      const std::size_t next = walks.distance.index(nx, ny);
      if (walks.distance[next] != -1) continue;
      walks.distance[next] = walks.distance[cell] + 1;
      walks.firstStep[next] =
          walks.distance[cell] == 0 ? static_cast<int>(d) : walks.firstStep[cell];
      if (passThrough(nx, ny)) queue.push_back(next);
    }
  }
  return walks;
}

}  // namespace bot

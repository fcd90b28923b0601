#include "BoutPlan.hpp"

#include <algorithm>
#include <tuple>

#include "FightOdds.hpp"
#include "Game.hpp"
#include "Grid.hpp"
#include "Map.hpp"
#include "NPC.hpp"

namespace bot {
namespace {

// Ground beyond this many cells is as good as endless for a bout.
constexpr int kRoomEnough = 30;
// A bear this many steps away has lost the player.
constexpr int kFarEnough = 5;

}  // namespace

bool BoutGround::isFree(int x, int y) const {
  return game.map->contains(x, y) && game.map->tileAt(x, y).explored &&
         game.map->isWalkable(x, y) && !taken.at(x, y);
}

bool BoutGround::outOfReach(int x, int y, int bx, int by) const {
  return isFree(x, y) && chebyshev(x, y, bx, by) >= 2;
}

std::pair<int, int> BoutGround::follow(int bx, int by, int px, int py) const {
  std::pair<int, int> best{bx, by};
  if (!bearHunting && euclid(bx, by, px, py) > bearSight) return best;
  std::pair<int, double> bestGap{chebyshev(bx, by, px, py), euclid(bx, by, px, py)};
  for (const Step& step : kSteps) {
    const int x = bx + step.dx;
    const int y = by + step.dy;
    if ((x == px && y == py) || !isFree(x, y)) continue;
    const std::pair<int, double> gap{chebyshev(x, y, px, py), euclid(x, y, px, py)};
    if (gap < bestGap) {
      bestGap = gap;
      best = {x, y};
    }
  }
  return best;
}

namespace {

// Each cell's region of connected `open` cells (-1 where not open), and each region's size up
// to kRoomEnough.
template <typename Open>
std::pair<Grid<int>, std::vector<int>> regionsOf(int width, int height, Open&& open) {
  Grid<int> region(width, height, -1);
  std::vector<int> sizes;
  for (std::size_t start = 0; start < region.size(); ++start) {
    if (region[start] >= 0 || !open(region.xOf(start), region.yOf(start))) continue;
    const int label = static_cast<int>(sizes.size());
    const Walks reached = breadthFirst(width, height, {start}, open, open);
    int size = 0;
    for (std::size_t cell = 0; cell < region.size(); ++cell) {
      if (reached.distance[cell] < 0) continue;
      region[cell] = label;
      ++size;
    }
    sizes.push_back(std::min(size, kRoomEnough));
  }
  return {region, sizes};
}

}  // namespace

Grid<int> roomAround(const Game& game, const NPC& bear) {
  const auto open = [&](int x, int y) {
    return mayWalk(*game.map, x, y, true) && chebyshev(x, y, bear.x, bear.y) > 1;
  };
  const auto [region, sizes] = regionsOf(game.map->width, game.map->height, open);
  Grid<int> room(game.map->width, game.map->height, 0);
  for (std::size_t cell = 0; cell < room.size(); ++cell) {
    if (region[cell] >= 0) room[cell] = sizes[static_cast<std::size_t>(region[cell])];
  }
  // Around the bear the ground opens onto whichever side is larger.
  for (int y = bear.y - 1; y <= bear.y + 1; ++y) {
    for (int x = bear.x - 1; x <= bear.x + 1; ++x) {
      if (!mayWalk(*game.map, x, y, true)) continue;
      int most = 0;
      for (const Step& step : kSteps) {
        const int nx = x + step.dx;
        const int ny = y + step.dy;
        if (game.map->contains(nx, ny)) {
          most = std::max(most, room.at(nx, ny));
        }
      }
      room.at(x, y) = most;
    }
  }
  return room;
}

BoutPlan::BoutPlan(const BoutGround& ground, const Grid<int>& room, int bearSpeed, int firstTurn,
                   bool getAway)
    : ground(ground), room(room), getAway(getAway) {
  for (int i = 0; i < kBoutLookahead; ++i) {
    bearActs.push_back(actionsInTurn(bearSpeed, firstTurn + i) > 0);
  }
}

// Calls `visit` with every move open to the player on turn `step` of the plan and the value of
// the best line that starts with it.
template <typename Visit>
void BoutPlan::forEachMove(int step, int px, int py, int bx, int by, Visit&& visit) {
  const bool acts = bearActs[static_cast<std::size_t>(step)];
  const bool adjacent = chebyshev(px, py, bx, by) <= 1;
  for (int d = -1; d < static_cast<int>(kSteps.size()); ++d) {
    const int x = d < 0 ? px : px + kSteps[static_cast<std::size_t>(d)].dx;
    const int y = d < 0 ? py : py + kSteps[static_cast<std::size_t>(d)].dy;
    Value value;
    if (acts) {
      if (!ground.outOfReach(x, y, bx, by)) continue;
      const auto [nbx, nby] = ground.follow(bx, by, x, y);
      value = worth(step + 1, x, y, nbx, nby);
    } else {
      if (d >= 0 && (!ground.isFree(x, y) || (x == bx && y == by))) continue;
      value = worth(step + 1, x, y, bx, by);
      if (d < 0 && adjacent) ++value.strikes;
    }
    ++value.safeTurns;
    visit(d, value);
  }
}

BoutPlan::Move BoutPlan::best(int px, int py, int bx, int by) {
  Move best;
  best.value.safeTurns = -1;
  Move stay;
  forEachMove(0, px, py, bx, by, [&](int direction, const Value& value) {
    if (better(value, best.value)) best = {direction, value};
    if (direction < 0) stay = {direction, value};
  });
  const bool restingNow = !bearActs.front();
  if (!getAway && restingNow && chebyshev(px, py, bx, by) <= 1 &&
      stay.value.safeTurns >= kRoundLength) {
    return stay;
  }
  return best;
}

bool BoutPlan::better(const Value& a, const Value& b) const {
  if (getAway) {
    return std::tie(a.safeTurns, a.room, a.distance, a.strikes) >
           std::tie(b.safeTurns, b.room, b.distance, b.strikes);
  }
  return std::tie(a.safeTurns, a.room, a.strikes) > std::tie(b.safeTurns, b.room, b.strikes);
}

BoutPlan::Value BoutPlan::worth(int step, int px, int py, int bx, int by) {
  if (step >= kBoutLookahead) {
    return {0, room.at(px, py), 0, std::min(chebyshev(px, py, bx, by), kFarEnough)};
  }
  const std::uint64_t key =
      (((static_cast<std::uint64_t>(step) * 128 + px) * 128 + py) * 128 + bx) * 128 + by;
  if (const auto found = memo.find(key); found != memo.end()) return found->second;
  Value best;
  bool any = false;
  forEachMove(step, px, py, bx, by, [&](int, const Value& value) {
    if (!any || better(value, best)) best = value;
    any = true;
  });
  memo.emplace(key, best);
  return best;
}

}  // namespace bot

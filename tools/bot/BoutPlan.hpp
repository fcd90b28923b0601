#pragma once

// Planning a bout with a bear a few turns ahead.
//
// A bear hits hard but acts only four turns in five (see actionsInTurn). On a turn the bear
// acts, the player must end its move out of the bear's reach, or be hit; the bear then steps
// toward the player. On the bear's resting turn the player strikes, waits, or walks (even past
// the bear), and the bear stays put. A plan looks for lines of play that keep the player out
// of reach: circling in open ground, backing off along corridors, slipping past the bear where
// it rests instead of walking into a corner.

#include <cstdint>
#include <numeric>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Grid.hpp"
#include "NPC.hpp"

class Game;

namespace bot {

// A bear's round: after this many turns its energy store is back where it was (five turns for
// its speed of 8: it acts in four of them and rests in one). A plan looks three rounds ahead.
constexpr int kRoundLength = NPC::kActionCost / std::gcd(statsOf(Bear)->speed, NPC::kActionCost);
constexpr int kBoutLookahead = 3 * kRoundLength;

// The ground of a bout as the player knows it, and how the bear moves on it.
struct BoutGround {
  const Game& game;
  const Grid<bool>& taken;  // cells other creatures stand on
  int bearSight;            // a calm bear farther than this from the player does not notice it
  bool bearHunting;         // the bear is after the player already: it follows wherever it goes

  // Explored, walkable and not taken by another creature.
  bool isFree(int x, int y) const;
  // Whether the player can stand on (x, y) out of reach of a bear at (bx, by).
  bool outOfReach(int x, int y, int bx, int by) const;
  // Where a bear at (bx, by) steps with the player at (px, py): the open neighbour closest to
  // the player; a calm one stays where it is while the player is out of its sight.
  std::pair<int, int> follow(int bx, int by, int px, int py) const;
};

// For every cell of the level, how much ground (up to a cap) it opens onto once the bear and
// the cells around it are taken out, unexplored ground counted as open: a pocket whose mouth
// the bear stands in has little room, the far side of the bear a lot.
Grid<int> roomAround(const Game& game, const NPC& bear);

class BoutPlan {
 public:
  // What a line of play is worth: turns without a blow from the bear, then the room the player
  // has at the end of it, then blows struck, or, for a player that only wants to get away, the
  // distance left between them.
  struct Value {
    int safeTurns = 0;
    int room = 0;
    int strikes = 0;
    int distance = 0;
  };
  // The first move of the best line: a direction, -1 to stay (striking if the bear stands next
  // to the player and rests), and what the line is worth.
  struct Move {
    int direction = -1;
    Value value;
  };

  // A plan for a bear of `bearSpeed` from turn `firstTurn` on, over `ground` with `room` (see
  // roomAround). With `getAway` the player looks for distance rather than blows.
  BoutPlan(const BoutGround& ground, const Grid<int>& room, int bearSpeed, int firstTurn,
           bool getAway);

  // The best move for the player at (px, py) with the bear at (bx, by). A blow the bear's rest
  // allows now is taken whenever the bear's next round can be got through after it.
  Move best(int px, int py, int bx, int by);

 private:
  template <typename Visit>
  void forEachMove(int step, int px, int py, int bx, int by, Visit&& visit);
  bool better(const Value& a, const Value& b) const;
  Value worth(int step, int px, int py, int bx, int by);

  BoutGround ground;
  const Grid<int>& room;
  bool getAway;
  std::vector<bool> bearActs;  // by step of the plan
  std::unordered_map<std::uint64_t, Value> memo;
};

}  // namespace bot

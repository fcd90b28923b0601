// Rules at their edges: prey exactly at the sight radius, flight, the player's target after a
// removal, the move letters, the view each turn, the terrain's quiet generation, and where the
// cave's first inhabitants land.

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Game.hpp"
#include "Item.hpp"
#include "Map.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"
#include "Tile.hpp"

namespace {

using harness::press;

// ---- Prey at the sight radius ------------------------------------------------------------

// An open 13 x 13 room with `creature` in its middle and the player `dx`, `dy` from it.
std::unique_ptr<Game> roomWith(char creature, int dx, int dy) {
  std::vector<std::string> rows(15, "#" + std::string(13, '.') + "#");
  rows.front() = rows.back() = std::string(15, '#');
  rows[7][7] = creature;
  rows[static_cast<std::size_t>(7 + dy)][static_cast<std::size_t>(7 + dx)] = '@';
  return harness::gameFromDrawing(rows);
}

struct Sighting {
  char creature;
  int radius;
};

class PreyAtTheRadiusTest : public ::testing::TestWithParam<Sighting> {};

// Along each of the eight compass lines: the farthest cell within the radius is seen, the next
// one is not.
TEST_P(PreyAtTheRadiusTest, IsNoticedUpToTheRadiusInEveryDirectionAndNotOneCellBeyond) {
  const Sighting& s = GetParam();
  const int diagonal = s.radius * 707 / 1000;  // the last diagonal step within the radius
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      if (dx == 0 && dy == 0) continue;
      const int reach = dx != 0 && dy != 0 ? diagonal : s.radius;
      for (const int steps : {reach, reach + 1}) {
        SCOPED_TRACE(testing::Message() << "player at " << dx * steps << "," << dy * steps);
        auto game = roomWith(s.creature, dx * steps, dy * steps);
        NPC& hunter = *harness::creaturesOf(*game).at(0);
        hunter.energy = 11 - hunter.speed;  // exactly one action this turn
        ASSERT_TRUE(press(*game, "."));
        const bool seen = steps == reach;
        EXPECT_EQ(hunter.angry, seen);
        EXPECT_EQ(hunter.target, seen ? game->player : nullptr);
        if (seen) {  // and it steps toward the player at once
          EXPECT_EQ(hunter.x, 7 + dx);
          EXPECT_EQ(hunter.y, 7 + dy);
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SnakeAndBear, PreyAtTheRadiusTest,
                         ::testing::Values(Sighting{'s', 4}, Sighting{'B', 3}),
                         [](const ::testing::TestParamInfo<Sighting>& info) {
                           for (const CreatureStats& stats : kCreatureKinds) {
                             if (stats.glyph == info.param.creature) return std::string(stats.name);
                           }
                           return harness::caseName(std::string(1, info.param.creature));
                         });

// ---- Flight ------------------------------------------------------------------------------

TEST(FlightDirectionTest, AFleeingCreatureStepsStraightAwayFromItsTargetInEveryDirection) {
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      if (dx == 0 && dy == 0) continue;
      SCOPED_TRACE(testing::Message() << "player at " << 2 * dx << "," << 2 * dy);
      auto game = roomWith('b', 2 * dx, 2 * dy);
      NPC& bat = *harness::creaturesOf(*game).at(0);
      bat.fleeing = true;
      bat.target = game->player;
      bat.energy = 0;  // 14: one action
      ASSERT_TRUE(press(*game, "."));
      EXPECT_EQ(bat.x, 7 - dx);
      EXPECT_EQ(bat.y, 7 - dy);
      EXPECT_EQ(bat.fleeCounter, 1);
    }
  }
}

// ---- A flight under attack ---------------------------------------------------------------

TEST(FlightUnderAttackTest, AFleeingCreatureStruckAgainKeepsRunningAndTheEndClearsBoth) {
  auto game = harness::gameFromDrawing({
      "###############",  //
      "#@B...........#",  //
      "###############",  //
  });
  game->storyStage = 2;  // no memories in the log
  NPC& bear = *harness::creaturesOf(*game).at(0);
  bear.fleeing = true;
  bear.target = game->player;
  bear.fleeCounter = 6;
  bear.hp = 3;  // below its threshold: only the flight keeps it from fleeing anew
  Player& you = *game->player;
  you.accuracy = 10;
  you.baseDamage = 0;
  you.damageRange = 1;  // every blow lands for no damage
  bear.energy = 2;      // 2 + 8: no action in the turn of the blow
  ASSERT_TRUE(press(*game, "l"));
  EXPECT_EQ(harness::lastMessage(*game), "You hit the bear for no damage!");
  EXPECT_TRUE(bear.angry);
  EXPECT_TRUE(bear.fleeing);
  EXPECT_EQ(bear.target, game->player);

  for (int action = 7; action <= 10; ++action) {
    bear.energy = 3;  // one action a turn
    ASSERT_TRUE(press(*game, "."));
    EXPECT_EQ(bear.x, 2 + action - 6) << "it runs, it does not hunt";
    EXPECT_EQ(bear.fleeCounter, action % 10);
    EXPECT_EQ(bear.fleeing, action < 10);
    EXPECT_EQ(bear.angry, action < 10);
  }
  EXPECT_EQ(bear.target, nullptr);
  EXPECT_EQ(harness::lastMessage(*game), "You hit the bear for no damage!") << "no new flight";
}

// ---- Nothing points at the dead ------------------------------------------------------------

TEST(PlayersTargetTest, IsClearedWhenThatCreatureIsRemovedAndKeptWhenAnotherOneIs) {
  auto game = harness::gameFromDrawing({"#####", "#b@b#", "#####"});
  game->storyStage = 2;
  Player& you = *game->player;
  const std::vector<NPC*> bats = harness::creaturesOf(*game);
  for (NPC* bat : bats)
    bat->hp = 1;
  you.accuracy = 10;
  you.angry = true;  // keeps the target set below whoever strikes
  you.target = bats[1];
  ASSERT_TRUE(press(*game, "h"));
  ASSERT_EQ(game->killCount, 1);
  EXPECT_EQ(you.target, bats[1]) << "another creature's removal leaves the target alone";
  ASSERT_TRUE(press(*game, "l"));
  ASSERT_EQ(game->killCount, 2);
  EXPECT_EQ(you.target, nullptr);
}

// ---- Keys ----------------------------------------------------------------------------------

TEST(MoveLetterTest, EachDirectionHasTheLetterOfItsKeyAndNothingElseHasOne) {
  const std::string letters = "hlkjyubn";  // west, east, north, south, then the diagonals
  for (int direction = 0; direction < 8; ++direction)
    EXPECT_EQ(moveLetter(direction), letters[static_cast<std::size_t>(direction)]) << direction;
  EXPECT_EQ(moveLetter(-1), 0);
  EXPECT_EQ(moveLetter(8), 0);
}

// ---- The view and the terrain -------------------------------------------------------------

TEST(ViewTest, EveryTurnRecomputesTheViewAroundThePlayerWithRadiusFive) {
  auto game =
      harness::gameFromDrawing({"################", "#@..............#", "################"});
  const Map& map = *game->map;
  EXPECT_TRUE(map.isInFov(6, 1));
  EXPECT_FALSE(map.isInFov(7, 1));
  ASSERT_TRUE(press(*game, "l"));
  EXPECT_TRUE(map.isInFov(7, 1)) << "five cells from the player's new cell";
  EXPECT_FALSE(map.isInFov(8, 1));
  ASSERT_TRUE(press(*game, "."));
  EXPECT_TRUE(map.isInFov(7, 1));
}

TEST(TerrainTest, GeneratingACaveWritesNothingToStandardOutput) {
  for (const std::uint32_t partition : {2u, 29u, 404u}) {
    harness::fixPartition(partition);
    EntityRegistry unused;
    Map cave(&unused, 70, 44);
    testing::internal::CaptureStdout();
    cave.generate();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "partition " << partition;
  }
}

TEST(TerrainTest, EveryKindSetsItsOwnForegroundWhateverTheTileWasBefore) {
  const struct {
    TileKind kind;
    TCODColor fore;
  } kinds[] = {{Wall, TCODColor::black},
               {Water, TCODColor(55, 55, 155)},
               {ShallowWater, TCODColor(55, 55, 155)}};
  for (const auto& k : kinds) {
    for (const TileKind before : {Floor, Wall, Water, ShallowWater}) {
      Tile tile;
      tile.setKind(before);
      tile.fore = TCODColor(1, 2, 3);
      tile.setKind(k.kind);
      EXPECT_EQ(tile.fore, k.fore) << "kind " << int{k.kind} << " after " << int{before};
    }
  }
}

TEST(TerrainTest, KindsOutsideTheTableHaveNoTraits) {
  for (const int kind : {-1, 4, 100})
    EXPECT_EQ(traitsOf(static_cast<TileKind>(kind)), nullptr) << kind;
  EXPECT_NE(traitsOf(ShallowWater), nullptr);
}

// ---- The cave's first inhabitants ----------------------------------------------------------

// How a batch of the population shows in the replay: a creature by its glyph, an item as '*'.
char placedGlyph(const PopulationBatch& batch) {
  if (batch.isItem) return '*';
  const CreatureStats* stats = statsOf(static_cast<unsigned char>(batch.kind));
  return stats != nullptr ? static_cast<char>(stats->glyph) : '?';
}

// The placement rule, replayed on a second cave generated from the same seeds: a position is
// carried from one placement to the next; while it is not a walkable cell free of creatures
// a new one is drawn, x then y; a batch without a redraw keeps it after each placement (the
// bats), the others draw anew. Items block nothing. The batches themselves are pinned in
// NPCTest.
TEST(PopulationOrderTest, EachPlacementTestsTheLastPositionAndDrawsXThenY) {
  for (const unsigned seed : {3u, 1234u}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    harness::fixPartition(seed);
    std::srand(seed);
    EntityRegistry unused;
    Map cave(&unused, 70, 44);
    cave.generate();
    std::vector<std::pair<char, std::pair<int, int>>> expected;
    std::set<std::pair<int, int>> taken = {{1, 1}};  // the player's cell
    int px = 0;
    int py = 0;
    for (const PopulationBatch& batch : population()) {
      for (int i = 0; i < batch.count; ++i) {
        while (!cave.isWalkable(px, py) || taken.count({px, py}) != 0) {
          px = std::rand() % 70;
          py = std::rand() % 44;
        }
        expected.push_back({placedGlyph(batch), {px, py}});
        if (!batch.isItem) taken.insert({px, py});
        if (batch.redrawAfter) {
          px = std::rand() % 70;
          py = std::rand() % 44;
        }
      }
    }
    const int next = std::rand();

    harness::fixPartition(seed);
    std::srand(seed);
    Game game;
    std::vector<std::pair<char, std::pair<int, int>>> placed;
    for (const auto& [id, entity] : game.registry) {
      if (entity == game.player) continue;
      const char glyph = dynamic_cast<const Item*>(entity) != nullptr ? '*' : entity->glyph;
      placed.push_back({glyph, {entity->x, entity->y}});
    }
    EXPECT_EQ(placed, expected);
    EXPECT_EQ(std::rand(), next) << "the same number of draws";
  }
}

}  // namespace

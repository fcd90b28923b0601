// The level: its queries, the one way terrain changes, the cave generator and the drawing of
// the level into the root console.

#include "Map.hpp"

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Entity.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"

namespace {

// ---- Queries and setting terrain ------------------------------------------------------------

class MapQueryTest : public ::testing::Test {
 protected:
  EntityRegistry registry;
  Map map{&registry, 70, 44};
};

TEST_F(MapQueryTest, SetTileCopiesEachKindsFlagsIntoTheFieldOfViewMap) {
  struct Expected {
    TileKind kind;
    bool transparent, walkable;
  };
  const Expected kinds[] = {
      {Wall, false, false}, {Floor, true, true}, {Water, true, false}, {ShallowWater, true, true}};
  for (const Expected& expected : kinds) {
    map.setTile(10, 10, expected.kind);
    EXPECT_EQ(map.tileAt(10, 10).kind, expected.kind);
    EXPECT_EQ(map.fovMap->isTransparent(10, 10), expected.transparent) << int{expected.kind};
    EXPECT_EQ(map.fovMap->isWalkable(10, 10), expected.walkable) << int{expected.kind};
    EXPECT_EQ(map.isWalkable(10, 10), expected.walkable) << int{expected.kind};
  }

  // an unknown kind is stored but leaves the flags of the kind before it
  map.setTile(11, 10, Wall);
  map.setTile(11, 10, static_cast<TileKind>(4));
  EXPECT_EQ(map.tileAt(11, 10).kind, 4);
  EXPECT_FALSE(map.fovMap->isTransparent(11, 10));
  EXPECT_FALSE(map.fovMap->isWalkable(11, 10));
  EXPECT_FALSE(map.isWalkable(11, 10));
}

TEST_F(MapQueryTest, SetTileOutsideTheLevelReportsTheCellAndChangesNothing) {
  std::srand(5);
  for (int y = 0; y < 44; ++y) {
    for (int x = 0; x < 70; ++x)
      map.setTile(x, y, (x + y) % 3 == 0 ? Wall : Floor);
  }
  auto snapshot = [this] {
    std::string text;
    for (const auto& row : map.tiles) {
      for (const Tile& tile : row) {
        text += std::to_string(tile.kind) + ":" + std::to_string(tile.glyph) + ":" +
                std::to_string(tile.back.r + 256 * tile.back.g) + ",";
      }
    }
    return text;
  };
  const std::string before = snapshot();

  testing::internal::CaptureStdout();
  EXPECT_EQ(harness::countRandDraws([this] { map.setTile(70, 0, Floor); }), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "WHAT? 70 0\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(harness::countRandDraws([this] { map.setTile(0, -1, Wall); }), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "WHAT? 0 -1\n");
  testing::internal::CaptureStdout();
  map.setTile(-3, 44, Water);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "WHAT? -3 44\n");

  EXPECT_EQ(snapshot(), before);
}

TEST_F(MapQueryTest, EntityAtFindsOnlyTheBlockingEntity) {
  Entity stone(nullptr, &map, 4, 4, false);
  Entity bat(nullptr, &map, 4, 4, true);
  registerInto(registry, map, &stone);
  EXPECT_EQ(map.entityAt(4, 4), nullptr);
  EXPECT_TRUE(map.isWalkable(4, 4));
  registerInto(registry, map, &bat);
  EXPECT_EQ(map.entityAt(4, 4), &bat);
  EXPECT_EQ(map.entityAt(5, 4), nullptr);
}

TEST_F(MapQueryTest, DistanceIsStraightLine) {
  EXPECT_FLOAT_EQ(map.distance(0, 0, 3, 4), 5.0f);
  EXPECT_FLOAT_EQ(map.distance(3, 4, 0, 0), 5.0f);
  EXPECT_FLOAT_EQ(map.distance(7, 7, 7, 7), 0.0f);
  EXPECT_FLOAT_EQ(map.distance(1, 1, 2, 2), 1.4142135f);
  EXPECT_FLOAT_EQ(map.distance(1, 0, 3, 4), 4.472136f);  // sqrt(2 * 2 + 4 * 4): no axis mixed up
}

// Entities made during play (corpses) are registered exactly as the Game registers its own:
// a taken id is replaced by the counter's value and the entity holding it keeps its entry.
TEST_F(MapQueryTest, AddEntityGivesATakenIdAFreshCounterValue) {
  Entity first(nullptr, &map, 2, 2, false);
  map.addEntity(&first);
  Entity corpse(nullptr, &map, 3, 3, false);
  const std::uint32_t counter = nextEntityId;
  corpse.id = first.id;
  map.addEntity(&corpse);
  EXPECT_EQ(corpse.id, counter);
  EXPECT_EQ(nextEntityId, counter + 1);
  EXPECT_EQ(registry.at(first.id), &first);
  EXPECT_EQ(registry.at(counter), &corpse);
  EXPECT_EQ(map.tileAt(3, 3).entities, (std::list<Entity*>{&corpse}));
}

// An entry leaves the registry only for its own entity: another entity that shares the id, or
// an id the registry does not hold, leaves every entry in place.
TEST_F(MapQueryTest, UnregisteringRemovesOnlyTheEntitysOwnEntry) {
  Entity listed(nullptr, &map, 2, 2, false);
  map.addEntity(&listed);
  Entity twin(nullptr, &map, -1, -1, false);
  twin.id = listed.id;
  const Entity stranger(nullptr, &map, -1, -1, false);
  EXPECT_FALSE(unregisterFrom(registry, &twin));
  EXPECT_FALSE(unregisterFrom(registry, &stranger));
  EXPECT_EQ(registry, (EntityRegistry{{listed.id, &listed}}));
  EXPECT_TRUE(unregisterFrom(registry, &listed));
  EXPECT_TRUE(registry.empty());
}

// ---- Cave generation ------------------------------------------------------------------------

// The carving written out from the rules, on tiles of its own: which cells become what, in
// which order they are set (every set rolls the tile's looks), and how many sets of each kind.
class CaveModel {
 public:
  static constexpr int kWidth = 70;
  static constexpr int kHeight = 44;

  void carve(TCODBsp& root) {
    carveNode(root);
    for (int y = 0; y < kHeight; ++y)
      set(kWidth - 1, y, Wall);
    for (int x = 0; x < kWidth; ++x)
      set(x, kHeight - 1, Wall);
    for (int pool = 0; pool < 3; ++pool)
      splash();
  }

  Tile& at(int x, int y) { return tiles[static_cast<std::size_t>(y * kWidth + x)]; }

  std::size_t floors = 0, bloodFloors = 0, walls = 0, waters = 0, innerNodes = 0;
  std::size_t cellsExactlyAtTheRadius = 0;  // pool cells that a "<=" would have changed

 private:
  void set(int x, int y, TileKind kind) {
    Tile& tile = at(x, y);
    tile.setKind(kind);
    if (kind == Floor) {
      ++floors;
      if (tile.glyph == 15) ++bloodFloors;
    } else if (kind == Wall) {
      ++walls;
    } else {
      ++waters;
    }
  }

  void carveNode(TCODBsp& node) {
    for (int x = node.x; x < node.x + node.w; ++x) {
      for (int y = node.y; y < node.y + node.h; ++y) {
        set(x, y, x == node.x || y == node.y ? Wall : Floor);
      }
    }
    if (node.isLeaf()) return;
    ++innerNodes;
    carveNode(*node.getRight());
    carveNode(*node.getLeft());
    if (!node.horizontal) {
      const int row = node.y + 1 + std::rand() % (node.h - 2);
      for (int x = node.position; x < kWidth && at(x, row).kind == Wall; ++x)
        set(x, row, Floor);
      for (int x = node.position - 1; x > 0 && at(x, row).kind == Wall; --x)
        set(x, row, Floor);
    } else {
      const int column = node.x + 1 + std::rand() % (node.w - 2);
      for (int y = node.position; y < kHeight && at(column, y).kind == Wall; ++y) {
        set(column, y, Floor);
      }
      for (int y = node.position - 1; y > 0 && at(column, y).kind == Wall; --y) {
        set(column, y, Floor);
      }
    }
  }

  void splash() {
    const int cx = std::rand() % kWidth;
    const int cy = std::rand() % kHeight;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const int r = std::rand() % 3 + 2;
        const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        const TileKind kind = at(x, y).kind;
        if (d2 == r * r && (kind == Wall || kind == Floor)) ++cellsExactlyAtTheRadius;
        if (d2 >= r * r) continue;
        if (kind == Wall) set(x, y, Water);
        if (kind == Floor) set(x, y, ShallowWater);
      }
    }
  }

  std::vector<Tile> tiles = std::vector<Tile>(kWidth * kHeight);
};

bool sameLooks(const Tile& a, const Tile& b) {
  return a.kind == b.kind && a.glyph == b.glyph && a.fore == b.fore && a.back == b.back;
}

// Compares two partitions node by node.
void expectSameTree(TCODBsp& a, TCODBsp& b) {
  ASSERT_EQ(a.isLeaf(), b.isLeaf());
  ASSERT_EQ(a.x, b.x);
  ASSERT_EQ(a.y, b.y);
  ASSERT_EQ(a.w, b.w);
  ASSERT_EQ(a.h, b.h);
  if (a.isLeaf()) return;
  ASSERT_EQ(a.position, b.position);
  ASSERT_EQ(a.horizontal, b.horizontal);
  expectSameTree(*a.getLeft(), *b.getLeft());
  expectSameTree(*a.getRight(), *b.getRight());
}

class CaveTest : public ::testing::Test {
 protected:
  EntityRegistry registry;
};

TEST_F(CaveTest, SplitsTheLevelWithTheCavesPartitionSettings) {
  harness::fixPartition(11);
  Map map(&registry, 70, 44);
  map.generate();
  harness::fixPartition(11);
  TCODBsp expected(0, 0, 70, 44);
  expected.splitRecursive(nullptr, 7, 4, 4, 2.5f, 1.9f);
  ASSERT_NE(map.bsp, nullptr);
  ASSERT_NO_FATAL_FAILURE(expectSameTree(*map.bsp, expected));
}

// Replays the generation from the rules for a few partitions: the same tiles come out, and the
// number of rand() calls is the sum of the draws of every tile set, one per opening, two per
// pool centre and three radii for every cell.
TEST_F(CaveTest, CarvesExactlyAsTheRulesSayAndDrawsTheExpectedNumberOfTimes) {
  for (std::uint32_t partition : {3u, 17u, 2024u}) {
    SCOPED_TRACE("partition " + std::to_string(partition));
    harness::fixPartition(partition);
    Map map(&registry, 70, 44);
    const unsigned seed = 100 + partition;
    const std::size_t draws = harness::countRandDraws([&map] { map.generate(); }, seed);

    std::srand(seed);
    CaveModel model;
    model.carve(*map.bsp);
    for (int y = 0; y < 44; ++y) {
      for (int x = 0; x < 70; ++x) {
        ASSERT_TRUE(sameLooks(map.tileAt(x, y), model.at(x, y))) << "cell " << x << "," << y;
      }
    }
    const std::size_t expected = 5 * model.floors - model.bloodFloors + 3 * model.walls +
                                 model.waters + model.innerNodes + 3 * 2 + 3 * 70 * 44;
    EXPECT_EQ(draws, expected);
    EXPECT_GT(model.innerNodes, 10u);
    EXPECT_GT(model.waters, 0u);
    // cells at exactly the radius occurred, and staying unchanged is what the match above shows
    EXPECT_GT(model.cellsExactlyAtTheRadius, 0u);
  }
}

TEST_F(CaveTest, TheBorderIsNeverWalkableAndTheStartIsAlwaysWalkable) {
  for (std::uint32_t partition = 1; partition <= 12; ++partition) {
    harness::fixPartition(partition);
    std::srand(partition * 7919u);
    Map map(&registry, 70, 44);
    map.generate();
    for (int x = 0; x < 70; ++x) {
      ASSERT_FALSE(map.isWalkable(x, 0)) << "partition " << partition << " column " << x;
      ASSERT_FALSE(map.isWalkable(x, 43)) << "partition " << partition << " column " << x;
    }
    for (int y = 0; y < 44; ++y) {
      ASSERT_FALSE(map.isWalkable(0, y)) << "partition " << partition << " row " << y;
      ASSERT_FALSE(map.isWalkable(69, y)) << "partition " << partition << " row " << y;
    }
    EXPECT_TRUE(map.isWalkable(1, 1)) << "partition " << partition;
    EXPECT_TRUE(map.fovMap->isWalkable(1, 1)) << "partition " << partition;
  }
}

TEST_F(CaveTest, TheSameSeedAndPartitionGiveTheSameCaveAndAnotherSeedAnotherOne) {
  auto cave = [this](std::uint32_t partition, unsigned seed) {
    harness::fixPartition(partition);
    std::srand(seed);
    auto map = std::make_unique<Map>(&registry, 70, 44);
    map->generate();
    return map;
  };
  const auto first = cave(8, 1);
  const auto again = cave(8, 1);
  const auto otherSeed = cave(8, 2);
  int differences = 0;
  for (int y = 0; y < 44; ++y) {
    for (int x = 0; x < 70; ++x) {
      ASSERT_TRUE(sameLooks(first->tileAt(x, y), again->tileAt(x, y))) << x << "," << y;
      if (first->tileAt(x, y).kind != otherSeed->tileAt(x, y).kind) ++differences;
    }
  }
  EXPECT_GT(differences, 0);
}

// The kind of cell `along` of column `line` (of row `line` when `rows`).
TileKind lineCell(const Map& map, bool rows, int line, int along) {
  return rows ? map.tileAt(along, line).kind : map.tileAt(line, along).kind;
}

// An opening runs on through every wall in its way and stops at the first cell that is no wall,
// or at the border's column 0 or row 0, which it never opens. In the game's own partitions a run
// always meets the opening of the wall line it follows first, so these partitions are made by
// hand: splits at 1 and 2 leave a chamber one cell wide, all wall, between the border and the
// rest, and the opening of the split at 2 must cross it.
TEST_F(CaveTest, AnOpeningRunsThroughTheWallsUpToTheBorderButNeverIntoIt) {
  for (const bool rows : {false, true}) {
    SCOPED_TRACE(rows ? "rows" : "columns");
    TCODBsp root(0, 0, 70, 44);
    root.splitOnce(rows, 1);
    root.getRight()->splitOnce(rows, 2);
    Map map(&registry, 70, 44);
    std::srand(7);
    map.carveNode(&root);
    int openings = 0;
    for (int along = 1; along < (rows ? 70 : 44) - 1; ++along) {
      EXPECT_EQ(lineCell(map, rows, 0, along), Wall) << along;
      if (lineCell(map, rows, 2, along) == Wall) continue;
      ++openings;
      EXPECT_EQ(lineCell(map, rows, 1, along), Floor) << along;
    }
    EXPECT_GT(openings, 0);
  }
}

// A run that reaches the level's last column or row stops there: split off alone, that line is
// a chamber one cell wide, all wall, and its one opening is the only cell opened in it.
TEST_F(CaveTest, AnOpeningThatReachesTheLastColumnOrRowStopsAtTheLevelsEdge) {
  for (const bool rows : {false, true}) {
    SCOPED_TRACE(rows ? "last row" : "last column");
    const int last = rows ? 43 : 69;
    TCODBsp root(0, 0, 70, 44);
    root.splitOnce(rows, last);
    Map map(&registry, 70, 44);
    std::srand(7);
    map.carveNode(&root);
    int openings = 0;
    for (int along = 1; along < (rows ? 70 : 44) - 1; ++along) {
      if (lineCell(map, rows, last, along) == Floor) ++openings;
    }
    EXPECT_EQ(openings, 1);
  }
}

TEST_F(CaveTest, GenerationLeavesTheTileListsAlone) {
  harness::fixPartition(5);
  std::srand(5);
  Map map(&registry, 70, 44);
  Entity player(nullptr, &map, 1, 1, true);
  registerInto(registry, map, &player);
  map.generate();
  EXPECT_EQ(map.tileAt(1, 1).entities, (std::list<Entity*>{&player}));
}

// ---- Drawing the level ----------------------------------------------------------------------

// A level of two rooms split by a wall, drawn in the top-left corner of the screen:
//   columns 0-9 the left room, column 9 the dividing wall, columns 10-19 the right room.
class MapDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    harness::clearRoot();
    std::srand(42);
    for (int y = 0; y < map.height; ++y) {
      for (int x = 0; x < map.width; ++x) {
        const bool border = x == 0 || y == 0 || x == map.width - 1 || y == map.height - 1;
        map.setTile(x, y, border || x == 9 ? Wall : Floor);
      }
    }
    map.setTile(4, 3, ShallowWater);
  }
  void TearDown() override {
    entities.clear();
    TCODConsole::root->clear();
  }

  Entity* put(int x, int y, bool blocks, char glyph) {
    entities.push_back(std::make_unique<Entity>(nullptr, &map, x, y, blocks));
    Entity* entity = entities.back().get();
    entity->glyph = glyph;
    registerInto(registry, map, entity);
    return entity;
  }

  static TCODColor quarter(const TCODColor& c) {
    return TCODColor(c.r / 4, c.g / 4, c.b / 4);  // a quarter, rounded down
  }
  harness::Cell terrain(int x, int y) {
    const Tile& tile = map.tileAt(x, y);
    return {tile.glyph, tile.fore, tile.back};
  }
  harness::Cell rememberedTerrain(int x, int y) {
    const Tile& tile = map.tileAt(x, y);
    return {tile.glyph, quarter(tile.fore), quarter(tile.back)};
  }

  EntityRegistry registry;
  Map map{&registry, 20, 7};
  std::vector<std::unique_ptr<Entity>> entities;  // destroyed before the map
};

TEST_F(MapDrawTest, NeverSeenCellsAreDimmedNotCleared) {
  TCODConsole::root->putCharEx(14, 3, 'X', TCODColor(200, 101, 7), TCODColor(41, 80, 255));
  TCODConsole::root->putCharEx(40, 3, 'Y', TCODColor(200, 101, 7), TCODColor(41, 80, 255));
  map.computeFov(3, 3, 5);
  EXPECT_EQ(harness::countRandDraws([this] { map.draw(); }), 0u);
  EXPECT_EQ(harness::cellAt(14, 3),
            (harness::Cell{'X', TCODColor(50, 25, 1), TCODColor(10, 20, 63)}));
  map.draw();
  EXPECT_EQ(harness::cellAt(14, 3), (harness::Cell{'X', TCODColor(12, 6, 0), TCODColor(2, 5, 15)}));
  EXPECT_FALSE(map.tileAt(14, 3).explored);
  // beyond the level nothing is touched
  EXPECT_EQ(harness::cellAt(40, 3),
            (harness::Cell{'Y', TCODColor(200, 101, 7), TCODColor(41, 80, 255)}));
  // a black unseen cell stays black
  EXPECT_EQ(harness::cellAt(15, 4).ch, ' ');
  EXPECT_EQ(harness::cellAt(15, 4).back, TCODColor::black);
}

TEST_F(MapDrawTest, CellsInViewAreDrawnInFullColourAndRemembered) {
  map.computeFov(3, 3, 5);
  map.draw();
  for (const auto& [x, y] :
       std::vector<std::pair<int, int>>{{3, 3}, {4, 3}, {1, 1}, {0, 3}, {6, 1}, {3, 0}, {3, 6}}) {
    EXPECT_TRUE(map.tileAt(x, y).explored) << x << "," << y;
    EXPECT_EQ(harness::cellAt(x, y), terrain(x, y)) << x << "," << y;
  }
  EXPECT_EQ(harness::cellAt(4, 3).ch, 247);
  EXPECT_FALSE(map.tileAt(12, 3).explored);  // behind the dividing wall

  // out of view from the other room: a quarter of the tile's own colours, every frame
  map.computeFov(15, 3, 5);
  map.draw();
  EXPECT_TRUE(map.tileAt(12, 3).explored);
  EXPECT_EQ(harness::cellAt(12, 3), terrain(12, 3));
  for (int frame = 0; frame < 2; ++frame) {
    map.draw();
    EXPECT_EQ(harness::cellAt(3, 3), rememberedTerrain(3, 3));
    EXPECT_EQ(harness::cellAt(4, 3), rememberedTerrain(4, 3));
    EXPECT_EQ(harness::cellAt(0, 3), rememberedTerrain(0, 3));
  }
}

TEST_F(MapDrawTest, EntitiesOnRememberedCellsAreNotShown) {
  map.computeFov(3, 3, 5);
  map.draw();
  Entity* bat = put(2, 2, true, 'b');
  put(5, 2, false, '%');
  map.computeFov(15, 3, 5);
  map.draw();
  EXPECT_EQ(harness::cellAt(2, 2), rememberedTerrain(2, 2));
  EXPECT_EQ(harness::cellAt(5, 2), rememberedTerrain(5, 2));
  for (const Entity* seen : map.visibleEntities)
    EXPECT_NE(seen, bat);
  EXPECT_TRUE(map.visibleEntities.empty());
}

TEST_F(MapDrawTest, EntitiesInViewAreDrawnInTheTilesColoursAndListedRowByRow) {
  Entity* player = put(3, 3, true, '@');
  Entity* stone = put(6, 1, false, 7);
  put(6, 1, false, '%');  // the second item on that cell is hidden
  Entity* corpse = put(2, 4, false, '%');
  Entity* bat = put(2, 4, true, 'b');  // a creature over an item
  Entity* snake = put(7, 4, true, 's');
  Entity* hidden = put(14, 2, true, 'k');  // in the other room
  map.computeFov(3, 3, 5);
  map.draw();

  const Tile& stoneTile = map.tileAt(6, 1);
  EXPECT_EQ(harness::cellAt(6, 1), (harness::Cell{7, stoneTile.fore, stoneTile.back}));
  const Tile& batTile = map.tileAt(2, 4);
  EXPECT_EQ(harness::cellAt(2, 4), (harness::Cell{'b', batTile.fore, batTile.back}));
  const Tile& playerTile = map.tileAt(3, 3);
  EXPECT_EQ(harness::cellAt(3, 3), (harness::Cell{'@', playerTile.fore, playerTile.back}));
  EXPECT_EQ(map.visibleEntities, (std::vector<Entity*>{stone, player, bat, snake}));
  EXPECT_TRUE(map.tileAt(6, 1).explored);
  (void)corpse;
  (void)hidden;

  map.draw();  // each frame starts the list afresh
  EXPECT_EQ(map.visibleEntities.size(), 4u);
}

TEST_F(MapDrawTest, WithNothingElseInViewOnlyThePlayerIsListed) {
  Entity* player = put(3, 3, true, '@');
  put(14, 2, true, 'b');
  put(15, 5, false, '%');
  map.computeFov(player->x, player->y, 5);
  map.draw();
  EXPECT_EQ(map.visibleEntities, (std::vector<Entity*>{player}));
}

// A level wider and taller than the screen is drawn where it meets the screen; its cells beyond
// the screen's edges are still seen and remembered, but written nowhere.
TEST(MapWiderThanTheScreenTest, DrawsOnlyTheCellsOnTheScreen) {
  harness::clearRoot();
  EntityRegistry registry;
  Map map(&registry, 90, 60);
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x)
      map.setTile(x, y, Floor);
  }
  TCODConsole::root->putCharEx(0, 46, 'X', TCODColor::white, TCODColor::black);
  map.computeFov(78, 47, 5);
  map.draw();
  EXPECT_EQ(harness::cellAt(0, 46).ch, 'X') << "never seen, and no cell beyond the edge lands here";
  const Tile& corner = map.tileAt(79, 49);
  EXPECT_EQ(harness::cellAt(79, 49), (harness::Cell{corner.glyph, corner.fore, corner.back}));
  EXPECT_TRUE(map.tileAt(81, 50).explored);
}

}  // namespace

// A cell of the level: how setting its kind rolls its looks, and its list of entities.

#include "Tile.hpp"

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <cstdlib>
#include <functional>
#include <memory>
#include <set>

#include "Entity.hpp"
#include "Scenario.hpp"

namespace {

using harness::seedWhoseFirstDraw;

std::size_t drawsOfSetKind(int kind, unsigned seed) {
  Tile tile;
  return harness::countRandDraws([&] { tile.setKind(static_cast<TileKind>(kind)); }, seed);
}

TEST(TileKindTest, EachKindDrawsAFixedNumberOfRandomNumbers) {
  const unsigned blood = seedWhoseFirstDraw([](int r) { return r % 30 == 0; });
  const unsigned plain = seedWhoseFirstDraw([](int r) { return r % 30 != 0; });
  EXPECT_EQ(drawsOfSetKind(Floor, blood), 4u);
  EXPECT_EQ(drawsOfSetKind(Floor, plain), 5u);
  EXPECT_EQ(drawsOfSetKind(Wall, plain), 3u);
  EXPECT_EQ(drawsOfSetKind(Water, plain), 1u);
  EXPECT_EQ(drawsOfSetKind(ShallowWater, plain), 1u);
  EXPECT_EQ(drawsOfSetKind(4, plain), 0u);
  EXPECT_EQ(drawsOfSetKind(-1, plain), 0u);
}

// Replays the draws a floor makes, in their order, and checks what the tile made of them.
TEST(TileKindTest, FloorLooksFollowItsDrawsInOrder) {
  int bloodSeen = 0;
  for (unsigned seed = 1; seed <= 3000; ++seed) {
    std::srand(seed);
    const int r = std::rand();
    const int s = r % 30 == 0 ? -1 : std::rand();
    const int a = std::rand();
    const int b = std::rand();
    const int c = std::rand();

    std::srand(seed);
    Tile tile;
    tile.setKind(Floor);
    ASSERT_EQ(tile.kind, Floor);
    if (r % 30 == 0) {
      ++bloodSeen;
      EXPECT_EQ(tile.glyph, 15) << "seed " << seed;
      EXPECT_EQ(tile.fore, TCODColor::darkRed);
    } else {
      EXPECT_EQ(tile.glyph, s % 5 == 0 ? 34 : 46) << "seed " << seed;
      EXPECT_EQ(tile.fore, TCODColor(200, 200, 200));
    }
    EXPECT_EQ(tile.back, TCODColor(c % 10, b % 10, a % 10)) << "seed " << seed;
  }
  EXPECT_GT(bloodSeen, 50);  // about one floor in thirty
  EXPECT_LT(bloodSeen, 150);
}

TEST(TileKindTest, WallAndWaterLooksFollowTheirDraws) {
  for (unsigned seed = 1; seed <= 500; ++seed) {
    std::srand(seed);
    const int a = std::rand();
    const int b = std::rand();
    const int c = std::rand();
    std::srand(seed);
    Tile wall;
    wall.setKind(Wall);
    EXPECT_EQ(wall.glyph, 35);
    EXPECT_EQ(wall.fore, TCODColor::black);
    EXPECT_EQ(wall.back, TCODColor(180 + c % 20, 180 + b % 20, 200 + a % 50)) << "seed " << seed;

    std::srand(seed);
    Tile deep;
    deep.setKind(Water);
    EXPECT_EQ(deep.glyph, 247);
    EXPECT_EQ(deep.fore, TCODColor(55, 55, 155));
    EXPECT_EQ(deep.back, TCODColor(55, 55, 220 + a % 30));

    std::srand(seed);
    Tile shallow;
    shallow.setKind(ShallowWater);
    EXPECT_EQ(shallow.glyph, 247);
    EXPECT_EQ(shallow.fore, TCODColor(55, 55, 155));
    EXPECT_EQ(shallow.back, TCODColor(175, 175, 200 + a % 50));
  }
}

// Over many rolls every colour channel covers exactly its range and nothing else.
TEST(TileKindTest, RolledColoursCoverTheirWholeRanges) {
  struct Range {
    std::set<int> r, g, b;
  };
  Range floor, wall, deep, shallow;
  std::set<int> floorGlyphs;
  std::srand(7);
  Tile tile;
  auto record = [&tile](Range& range) {
    range.r.insert(tile.back.r);
    range.g.insert(tile.back.g);
    range.b.insert(tile.back.b);
  };
  for (int i = 0; i < 4000; ++i) {
    tile.setKind(Floor);
    record(floor);
    floorGlyphs.insert(tile.glyph);
    tile.setKind(Wall);
    record(wall);
    tile.setKind(Water);
    record(deep);
    tile.setKind(ShallowWater);
    record(shallow);
  }
  auto span = [](int low, int high) {
    std::set<int> all;
    for (int v = low; v <= high; ++v)
      all.insert(v);
    return all;
  };
  EXPECT_EQ(floorGlyphs, (std::set<int>{15, 34, 46}));
  EXPECT_EQ(floor.r, span(0, 9));
  EXPECT_EQ(floor.g, span(0, 9));
  EXPECT_EQ(floor.b, span(0, 9));
  EXPECT_EQ(wall.r, span(180, 199));
  EXPECT_EQ(wall.g, span(180, 199));
  EXPECT_EQ(wall.b, span(200, 249));
  EXPECT_EQ(deep.r, span(55, 55));
  EXPECT_EQ(deep.g, span(55, 55));
  EXPECT_EQ(deep.b, span(220, 249));
  EXPECT_EQ(shallow.r, span(175, 175));
  EXPECT_EQ(shallow.b, span(200, 249));
}

TEST(TileKindTest, AnUnknownKindChangesOnlyTheKind) {
  Tile fresh;
  fresh.setKind(static_cast<TileKind>(4));
  EXPECT_EQ(fresh.kind, 4);
  EXPECT_EQ(fresh.glyph, 0);
  EXPECT_EQ(fresh.fore, TCODColor(0, 0, 0));
  EXPECT_EQ(fresh.back, TCODColor(0, 0, 0));

  std::srand(3);
  Tile wall;
  wall.setKind(Wall);
  wall.explored = true;
  const TCODColor back = wall.back;
  wall.setKind(static_cast<TileKind>(4));
  EXPECT_EQ(wall.kind, 4);
  EXPECT_EQ(wall.glyph, 35);
  EXPECT_EQ(wall.fore, TCODColor::black);
  EXPECT_EQ(wall.back, back);
  EXPECT_TRUE(wall.explored);
}

// ---- The entity list ------------------------------------------------------------------------

// Off-level entities (no map), so that destroying them touches no tile.
std::unique_ptr<Entity> creature() {
  return std::make_unique<Entity>(nullptr, nullptr, 0, 0, true);
}
std::unique_ptr<Entity> item() {
  return std::make_unique<Entity>(nullptr, nullptr, 0, 0, false);
}

TEST(TileListTest, RemoveTakesOutOnlyTheFrontMostEntityWithTheId) {
  auto first = item();
  auto second = item();
  auto twin = item();
  twin->id = first->id;
  Tile tile;
  tile.add(first.get());
  tile.add(second.get());
  tile.add(twin.get());

  EXPECT_FALSE(tile.remove(second->id + 1000));
  EXPECT_EQ(tile.entities, (std::list<Entity*>{first.get(), second.get(), twin.get()}));

  EXPECT_TRUE(tile.remove(first->id));
  EXPECT_EQ(tile.entities, (std::list<Entity*>{second.get(), twin.get()}));
  EXPECT_TRUE(tile.remove(first->id));
  EXPECT_EQ(tile.entities, (std::list<Entity*>{second.get()}));
  EXPECT_FALSE(tile.remove(first->id));
  EXPECT_TRUE(tile.remove(second->id));
  EXPECT_TRUE(tile.entities.empty());
}

TEST(TileListTest, TheBlockingEntityIsShownOverItemsWhateverTheOrder) {
  Tile tile;
  EXPECT_EQ(tile.topEntity(), nullptr);
  EXPECT_EQ(tile.blockingEntity(), nullptr);

  auto stone = item();
  auto corpse = item();
  tile.add(stone.get());
  tile.add(corpse.get());
  EXPECT_EQ(tile.topEntity(), stone.get());  // the item that arrived first
  EXPECT_EQ(tile.blockingEntity(), nullptr);

  auto bat = creature();
  tile.add(bat.get());
  EXPECT_EQ(tile.topEntity(), bat.get());
  EXPECT_EQ(tile.blockingEntity(), bat.get());

  Tile under;
  under.add(bat.get());
  under.add(stone.get());
  EXPECT_EQ(under.topEntity(), bat.get());
  EXPECT_EQ(under.blockingEntity(), bat.get());
}

TEST(TileListTest, DestroyingATileLeavesItsEntitiesAlive) {
  auto bat = creature();
  const std::uint32_t id = bat->id;
  {
    auto tile = std::make_unique<Tile>();
    tile->add(bat.get());
  }
  EXPECT_EQ(bat->id, id);  // still a live object (AddressSanitizer would object otherwise)
  EXPECT_TRUE(bat->blocks);
}

}  // namespace

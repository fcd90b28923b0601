// The entity base: ids, its place in the tile lists, and stepping in eight directions.

#include "Entity.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Map.hpp"
#include "MessageLog.hpp"
#include "NPC.hpp"

namespace {

// A creature that remembers whom it bumped into instead of fighting.
class Bumper : public Entity {
 public:
  Bumper(Map* map, int x, int y) : Entity(nullptr, map, x, y, true) {}
  void interact(Entity* other) override { bumped.push_back(other); }
  std::vector<Entity*> bumped;
};

class EntityMoveTest : public ::testing::Test {
 protected:
  // '#' wall, '~' deep water, ',' shallow water, anything else floor.
  void SetUp() override {
    const std::vector<std::string> rows = {
        "#########",  //
        "#.......#",  //
        "#..~,...#",  //
        "#.......#",  //
        "#...#...#",  //
        "#########",  //
    };
    for (int y = 0; y < map.height; ++y) {
      for (int x = 0; x < map.width; ++x) {
        const char c = rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
        map.setTile(x, y, c == '#' ? Wall : c == '~' ? Water : c == ',' ? ShallowWater : Floor);
      }
    }
  }
  void TearDown() override {
    for (auto& entity : owned)
      entity.reset();  // before the map goes
  }

  template <typename T, typename... Args>
  T* place(Args&&... args) {
    auto entity = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = entity.get();
    registerInto(registry, map, raw);
    owned.push_back(std::move(entity));
    return raw;
  }
  Entity* itemAt(int x, int y) { return place<Entity>(nullptr, &map, x, y, false); }

  const std::list<Entity*>& at(int x, int y) { return map.tileAt(x, y).entities; }

  EntityRegistry registry;
  Map map{&registry, 9, 6};
  MessageLog log;
  std::vector<std::unique_ptr<Entity>> owned;
};

TEST_F(EntityMoveTest, EachDirectionStepsOneCellAndCarriesTheTileEntry) {
  struct Expected {
    int direction, dx, dy;
  };
  const Expected steps[] = {{West, -1, 0},      {East, 1, 0},        {North, 0, -1},
                            {South, 0, 1},      {NorthWest, -1, -1}, {NorthEast, 1, -1},
                            {SouthWest, -1, 1}, {SouthEast, 1, 1}};
  Bumper* mover = place<Bumper>(&map, 6, 2);
  for (const Expected& step : steps) {
    mover->moveTo(6, 2);
    ASSERT_TRUE(mover->move(step.direction)) << "direction " << step.direction;
    EXPECT_EQ(mover->x, 6 + step.dx) << "direction " << step.direction;
    EXPECT_EQ(mover->y, 2 + step.dy) << "direction " << step.direction;
    EXPECT_EQ(at(mover->x, mover->y), (std::list<Entity*>{mover}));
    EXPECT_TRUE(at(6, 2).empty());
  }
  EXPECT_TRUE(mover->bumped.empty());
}

TEST_F(EntityMoveTest, WallsAndDeepWaterRefuseTheStepSilently) {
  Bumper* mover = place<Bumper>(&map, 2, 2);
  testing::internal::CaptureStdout();
  const bool intoDeepWater = mover->move(East);  // (3, 2)
  mover->moveTo(1, 2);
  const bool intoOuterWall = mover->move(West);  // (0, 2)
  mover->moveTo(4, 3);
  const bool intoInnerWall = mover->move(South);  // (4, 4)
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(intoDeepWater);
  EXPECT_FALSE(intoOuterWall);
  EXPECT_FALSE(intoInnerWall);
  EXPECT_EQ(mover->x, 4);
  EXPECT_EQ(mover->y, 3);
  EXPECT_EQ(at(4, 3), (std::list<Entity*>{mover}));
  EXPECT_TRUE(at(4, 4).empty());
  EXPECT_TRUE(at(3, 2).empty());

  mover->moveTo(3, 3);
  EXPECT_TRUE(mover->move(NorthEast));  // shallow water at (4, 2) is walkable
  EXPECT_EQ(mover->x, 4);
  EXPECT_EQ(mover->y, 2);
}

TEST_F(EntityMoveTest, BumpingACreatureInteractsAndStays) {
  Entity* stone = itemAt(3, 1);
  Bumper* other = place<Bumper>(&map, 3, 1);
  Bumper* mover = place<Bumper>(&map, 2, 1);
  EXPECT_TRUE(mover->move(East));
  EXPECT_EQ(mover->bumped, (std::vector<Entity*>{other}));  // the creature, not the item
  EXPECT_EQ(mover->x, 2);
  EXPECT_EQ(at(2, 1), (std::list<Entity*>{mover}));
  EXPECT_EQ(at(3, 1), (std::list<Entity*>{stone, other}));
  EXPECT_TRUE(other->bumped.empty());

  EXPECT_TRUE(mover->moveInto(3, 1));  // the coordinate form bumps the same way
  EXPECT_EQ(mover->bumped.size(), 2u);
  EXPECT_EQ(mover->x, 2);
}

TEST_F(EntityMoveTest, TwoCreaturesOfOneSideBumpWithoutEffectButUseTheTurn) {
  NPC* first = place<NPC>(&log, &map, 5, 3, Bat);
  NPC* second = place<NPC>(&log, &map, 6, 3, Bat);
  EXPECT_TRUE(first->move(East));
  EXPECT_EQ(first->x, 5);
  EXPECT_EQ(second->hp, second->maxHp);
  EXPECT_FALSE(second->angry);
  EXPECT_TRUE(log.entries().empty());
}

TEST_F(EntityMoveTest, ItemsDoNotBlockAndTheMoverJoinsTheEndOfTheList) {
  Entity* first = itemAt(5, 1);
  Entity* second = itemAt(5, 1);
  Bumper* mover = place<Bumper>(&map, 5, 2);
  EXPECT_EQ(map.entityAt(5, 1), nullptr);
  EXPECT_TRUE(map.isWalkable(5, 1));
  EXPECT_TRUE(mover->move(North));
  EXPECT_EQ(at(5, 1), (std::list<Entity*>{first, second, mover}));
  EXPECT_EQ(map.entityAt(5, 1), mover);
  EXPECT_TRUE(mover->bumped.empty());
}

TEST_F(EntityMoveTest, AnInvalidDirectionIsReportedOnceAndNothingMoves) {
  Bumper* mover = place<Bumper>(&map, 5, 2);
  for (int direction : {8, -1, 1000}) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(mover->move(direction));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Entity::move(...) - Invalid direction specified!\n")
        << "direction " << direction;
    EXPECT_EQ(mover->x, 5);
    EXPECT_EQ(mover->y, 2);
    EXPECT_EQ(at(5, 2), (std::list<Entity*>{mover}));
  }
  EXPECT_TRUE(mover->bumped.empty());
}

// ---- Identity and leaving the level ---------------------------------------------------------

TEST_F(EntityMoveTest, EntitiesTakeConsecutiveIdsFromTheCounter) {
  const std::uint32_t before = nextEntityId;
  Entity first(nullptr, nullptr, -1, -1, false);
  NPC second(&log, nullptr, -1, -1, Bat);
  EXPECT_EQ(first.id, before);
  EXPECT_EQ(second.id, before + 1);
  EXPECT_EQ(nextEntityId, before + 2);
  EXPECT_EQ(first.glyph, 1);
  EXPECT_FALSE(first.playerSide);
  EXPECT_FALSE(first.dead);
}

TEST_F(EntityMoveTest, DestroyingAnEntityTakesItOffItsTile) {
  Entity* stone = itemAt(2, 3);
  auto bat = std::make_unique<Entity>(nullptr, &map, 2, 3, true);
  registerInto(registry, map, bat.get());
  ASSERT_EQ(at(2, 3), (std::list<Entity*>{stone, bat.get()}));
  unregisterFrom(registry, bat.get());
  bat.reset();
  EXPECT_EQ(at(2, 3), (std::list<Entity*>{stone}));
}

// The outer ring is never walkable in a real cave, but an entity put there by hand still
// leaves its tile when it goes.
TEST_F(EntityMoveTest, AnEntityOnColumnZeroOrRowZeroStillLeavesItsTile) {
  auto onColumn = std::make_unique<Entity>(nullptr, &map, 0, 3, false);
  auto onRow = std::make_unique<Entity>(nullptr, &map, 4, 0, false);
  auto inCorner = std::make_unique<Entity>(nullptr, &map, 0, 0, false);
  map.tileAt(0, 3).add(onColumn.get());
  map.tileAt(4, 0).add(onRow.get());
  map.tileAt(0, 0).add(inCorner.get());
  onColumn.reset();
  onRow.reset();
  inCorner.reset();
  EXPECT_TRUE(at(0, 3).empty());
  EXPECT_TRUE(at(4, 0).empty());
  EXPECT_TRUE(at(0, 0).empty());
}

TEST_F(EntityMoveTest, AnEntityOffTheMapTouchesNoTileWhenDestroyed) {
  Entity* stone = itemAt(3, 3);
  Bumper* bat = place<Bumper>(&map, 1, 1);
  auto carried = std::make_unique<Entity>(nullptr, &map, 3, 3, false);
  registerInto(registry, map, carried.get());
  carried->takeOffMap();
  EXPECT_EQ(carried->x, -1);
  EXPECT_EQ(carried->y, -1);
  EXPECT_EQ(at(3, 3), (std::list<Entity*>{stone}));
  unregisterFrom(registry, carried.get());
  carried->id = stone->id;  // even sharing an id with a listed entity changes nothing
  carried.reset();
  EXPECT_EQ(at(3, 3), (std::list<Entity*>{stone}));
  EXPECT_EQ(at(1, 1), (std::list<Entity*>{bat}));

  auto neverPlaced = std::make_unique<Entity>(nullptr, &map, -1, -1, false);
  neverPlaced->id = bat->id;
  neverPlaced.reset();
  EXPECT_EQ(at(1, 1), (std::list<Entity*>{bat}));
}

}  // namespace

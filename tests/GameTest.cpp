// One play as a whole: how a Game is built, how entities are registered, how it is torn down,
// and how its frame turns into the fade and the end screen.

#include "Game.hpp"

#include <gtest/gtest.h>
#include <libtcod.hpp>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Display.hpp"
#include "Item.hpp"
#include "Keys.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"

namespace {

const char* const kWakeUp =
    "You wake up grogilly in a dark cave, alone. Your head is pounding and you can taste blood. "
    "\nYou are hungry.";

std::unique_ptr<Game> gameWithPartition(std::uint32_t partition, unsigned seed) {
  harness::fixPartition(partition);
  std::srand(seed);
  return std::make_unique<Game>();
}

// ---- Construction ---------------------------------------------------------------------------

// The player and every batch of the population: 37 entities, 26 bats, 5 snakes, 2 bears, 1
// kitten and 2 stones, as the batches are pinned in NPCTest.
TEST(GameConstructionTest, ANewGameHoldsThePlayerAndEveryCreatureAndStoneOfThePopulation) {
  std::map<int, int> expectedCreatures;
  std::map<int, int> expectedItems;
  std::size_t entities = 1;
  for (const PopulationBatch& batch : population()) {
    (batch.isItem ? expectedItems : expectedCreatures)[batch.kind] += batch.count;
    entities += static_cast<std::size_t>(batch.count);
  }
  const auto game = gameWithPartition(21, 21);
  ASSERT_EQ(game->registry.size(), entities);
  EXPECT_EQ(game->registry.begin()->second, game->player);  // the smallest id
  EXPECT_EQ(game->registry.begin()->first, game->player->id);

  std::map<int, int> creatures;
  std::map<int, int> items;
  for (const auto& [id, entity] : game->registry) {
    EXPECT_EQ(id, entity->id);
    if (entity == game->player) continue;
    if (const auto* creature = dynamic_cast<const NPC*>(entity)) {
      ++creatures[creature->kind];
    } else if (const auto* item = dynamic_cast<const Item*>(entity)) {
      ++items[item->kind];
    } else {
      ADD_FAILURE() << "unexpected entity " << id;
    }
  }
  EXPECT_EQ(creatures, expectedCreatures);
  EXPECT_EQ(items, expectedItems);

  EXPECT_EQ(game->player->x, 1);
  EXPECT_EQ(game->player->y, 1);
  EXPECT_EQ(game->map->entityAt(1, 1), game->player);
  EXPECT_EQ(game->mode, Normal);
  EXPECT_EQ(game->storyStage, 0);
  EXPECT_EQ(game->turnCount, 0);
  EXPECT_EQ(game->killCount, 0);
  EXPECT_EQ(game->map->width, 70);
  EXPECT_EQ(game->map->height, 44);
  EXPECT_EQ(game->map->registry, &game->registry);
  EXPECT_EQ(game->menuConsole->getWidth(), 40);
  EXPECT_EQ(game->menuConsole->getHeight(), 30);
  ASSERT_EQ(game->messageLog.entries().size(), 1u);
  EXPECT_EQ(game->messageLog.entries().front().text, kWakeUp);
}

// The player and its meat are made before the cave: nothing before the cave draws a random
// number, so the cave is the one a bare level generates from the same seed and partition.
TEST(GameConstructionTest, ThePlayerComesBeforeTheCaveAndTheCreaturesAfterIt) {
  const std::uint32_t firstId = nextEntityId;
  const auto game = gameWithPartition(33, 4);
  EXPECT_EQ(game->player->id, firstId);
  ASSERT_EQ(game->player->inventory.size(), 1u);
  EXPECT_EQ(game->player->inventory.front()->id, firstId + 1);
  std::uint32_t expectedId = firstId + 2;  // then every creature and stone, in order
  for (const auto& entry : game->registry) {
    if (entry.second != game->player) {
      EXPECT_EQ(entry.first, expectedId++);
    }
  }
  EXPECT_EQ(nextEntityId, expectedId);

  harness::fixPartition(33);
  std::srand(4);
  EntityRegistry registry;
  Map bare(&registry, 70, 44);
  bare.generate();
  for (int y = 0; y < 44; ++y) {
    for (int x = 0; x < 70; ++x) {
      const Tile& a = game->map->tileAt(x, y);
      const Tile& b = bare.tileAt(x, y);
      ASSERT_TRUE(a.kind == b.kind && a.glyph == b.glyph && a.back == b.back) << x << "," << y;
    }
  }
}

// The first view is libtcod's with radius 3 (walls bordering the view are lit with it); every
// later turn looks 5 cells far.
TEST(GameConstructionTest, TheFirstViewHasRadiusThree) {
  const auto game = gameWithPartition(44, 44);
  Map& map = *game->map;
  auto view = [&map] {
    std::vector<bool> seen;
    for (int y = 0; y < 44; ++y) {
      for (int x = 0; x < 70; ++x)
        seen.push_back(map.isInFov(x, y));
    }
    return seen;
  };
  const std::vector<bool> first = view();
  EXPECT_TRUE(map.isInFov(1, 1));
  for (int y = 0; y < 44; ++y) {
    for (int x = 0; x < 70; ++x) {
      if (map.isInFov(x, y) && map.tileAt(x, y).kind != Wall) {
        EXPECT_LE(map.distance(1, 1, x, y), 3.0f) << x << "," << y;
      }
    }
  }
  map.computeFov(1, 1, 3);
  EXPECT_EQ(view(), first);
  map.computeFov(1, 1, 5);
  ASSERT_NE(view(), first) << "this cave shows no difference between the two radii";
}

// ---- Registration and the id counter --------------------------------------------------------

TEST(EntityRegistryTest, ATakenIdDrawsFreshCounterValuesOnePerAttempt) {
  auto game = harness::gameFromDrawing({"#####", "#@..#", "#####"});
  Game& g = *game;
  const std::uint32_t playerId = g.player->id;

  // one taken id: the entity gets the counter's value, which costs one step of the counter
  auto* stone = new Item(&g.messageLog, g.map.get(), 2, 1, SmallStone);
  std::uint32_t counter = nextEntityId;
  stone->id = playerId;
  g.registerEntity(stone);
  EXPECT_EQ(stone->id, counter);
  EXPECT_EQ(nextEntityId, counter + 1);
  EXPECT_EQ(g.registry.at(playerId), g.player);
  EXPECT_EQ(g.registry.at(counter), stone);
  EXPECT_EQ(g.map->tileAt(2, 1).entities, (std::list<Entity*>{stone}));

  // the next two counter values are keys already: three attempts, three counter values
  auto* blockerA = new Item(&g.messageLog, g.map.get(), -1, -1, SmallStone);
  auto* blockerB = new Item(&g.messageLog, g.map.get(), -1, -1, SmallStone);
  auto* pebble = new Item(&g.messageLog, g.map.get(), 3, 1, SmallStone);
  counter = nextEntityId;
  g.registry.emplace(counter, blockerA);
  g.registry.emplace(counter + 1, blockerB);
  pebble->id = stone->id;
  g.registerEntity(pebble);
  EXPECT_EQ(pebble->id, counter + 2);
  EXPECT_EQ(nextEntityId, counter + 3);
  EXPECT_EQ(g.registry.at(stone->id), stone);
  EXPECT_EQ(g.registry.at(counter + 2), pebble);
  EXPECT_EQ(g.map->tileAt(3, 1).entities, (std::list<Entity*>{pebble}));

  // a free id is kept and the counter stays where it is
  auto* free = new Item(&g.messageLog, g.map.get(), 3, 1, SmallStone);
  const std::uint32_t freeId = free->id;
  g.registerEntity(free);
  EXPECT_EQ(free->id, freeId);
  EXPECT_EQ(nextEntityId, freeId + 1);
  EXPECT_EQ(g.registry.size(), 6u);
}

TEST(EntityRegistryTest, IdsContinueFromOneGameToTheNext) {
  auto first = gameWithPartition(2, 2);
  const std::uint32_t stoppedAt = nextEntityId;
  first.reset();
  EXPECT_EQ(nextEntityId, stoppedAt);  // nothing resets the counter
  const auto second = gameWithPartition(2, 2);
  EXPECT_EQ(second->player->id, stoppedAt);
  EXPECT_EQ(second->registry.begin()->first, stoppedAt);
}

// A fresh process starts counting at 0, so its first player has id 0.
TEST(GameFreshProcessDeathTest, TheFirstPlayerOfAProcessHasIdZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a re-executed child starts from scratch
  EXPECT_EXIT(
      {
        const std::uint32_t before = nextEntityId;
        auto game = std::make_unique<Game>();
        const std::uint32_t id = game->player->id;
        game.reset();
        std::fprintf(stderr, "counter %u, player %u\n", before, id);
        std::exit(before == 0 && id == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "counter 0, player 0");
}

// ---- Teardown -------------------------------------------------------------------------------

// Entities that count their destruction and check, as each goes, that no tile still lists an
// entity that is already gone. Carried items go while the player is being destroyed; whatever
// lies on the level goes after the player, which must have left its tile by then.
struct Teardown {
  static inline int destroyed = 0;
  static inline int danglingSeen = 0;
  static inline std::set<const Entity*> gone;
  static inline const Map* level = nullptr;
  static inline const Entity* player = nullptr;

  static void check(const Entity* self) {
    const bool playerIsGone = self->isOnMap();
    for (const auto& row : level->tiles) {
      for (const Tile& tile : row) {
        for (const Entity* listed : tile.entities) {
          if (listed == self) continue;
          if (gone.count(listed) != 0 || (playerIsGone && listed == player)) ++danglingSeen;
        }
      }
    }
    gone.insert(self);
    ++destroyed;
  }
};

class CountedItem : public Item {
 public:
  using Item::Item;
  ~CountedItem() override { Teardown::check(this); }
};

class CountedCreature : public NPC {
 public:
  using NPC::NPC;
  ~CountedCreature() override { Teardown::check(this); }
};

TEST(GameTeardownTest, EveryEntityIsDestroyedOnceAndLeavesItsTile) {
  auto game = harness::gameFromDrawing({"######", "#@...#", "######"});
  Game& g = *game;
  Player& player = *g.player;
  Map* map = g.map.get();
  Teardown::level = map;

  // a registered item picked up: in the registry and in the inventory
  g.registerEntity(new CountedItem(&g.messageLog, map, player.x, player.y, SmallStone));
  ASSERT_TRUE(player.pickUp());
  // an item never registered, dropped on the floor: only its tile lists it
  player.inventory.push_back(new CountedItem(&g.messageLog, map, -1, -1, BatMeat));
  player.drop(static_cast<unsigned>(player.inventory.size() - 1));
  // a registered item carried from the start and one lying elsewhere, and a creature
  player.inventory.push_back(new CountedItem(&g.messageLog, map, -1, -1, BatPelt));
  g.registerEntity(new CountedItem(&g.messageLog, map, 3, 1, SmallStone));
  g.registerEntity(new CountedCreature(&g.messageLog, map, 4, 1, Bat));
  ASSERT_EQ(g.registry.size(), 4u);
  ASSERT_EQ(map->tileAt(1, 1).entities.size(), 2u);  // the player and the dropped meat

  Teardown::player = &player;
  game.reset();
  EXPECT_EQ(Teardown::destroyed, 5);
  EXPECT_EQ(Teardown::danglingSeen, 0);
  Teardown::gone.clear();
  Teardown::level = nullptr;
  Teardown::player = nullptr;
}

TEST(GameTeardownTest, AWholeCaveIsReleasedAfterPlayWithCorpsesAndCarriedStones) {
  auto game = gameWithPartition(9, 9);
  Player& player = *game->player;
  for (const auto& entry : game->registry) {  // walk onto a stone and pick it up
    if (auto* item = dynamic_cast<Item*>(entry.second)) {
      player.moveTo(item->x, item->y);
      break;
    }
  }
  ASSERT_TRUE(player.pickUp());
  for (const auto& entry : game->registry) {  // and kill a bat, which leaves its corpse
    auto* bat = dynamic_cast<NPC*>(entry.second);
    if (bat != nullptr && bat->kind == Bat) {
      bat->hp = 0;
      bat->dead = true;
      break;
    }
  }
  harness::KeyScript keys(".");
  ASSERT_TRUE(game->update());
  EXPECT_EQ(game->killCount, 1);
  game.reset();  // AddressSanitizer reports a double free or a use after free here
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

// ---- The frame, the fade and the end screen -------------------------------------------------

class GameFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { harness::clearRoot(); }
  void TearDown() override {
    TCODConsole::setFade(255, TCODColor::black);
    TCODConsole::root->clear();
  }
  static int centredStart(const std::string& text) {
    return 40 - static_cast<int>(text.size()) / 2;
  }
  // Row y holds exactly `text`, centred on column 40, and nothing else.
  static void expectCentredAlone(int y, const std::string& text) {
    const int start = centredStart(text);
    const std::string expected = std::string(static_cast<std::size_t>(start), ' ') + text +
                                 std::string(80 - start - text.size(), ' ');
    EXPECT_EQ(harness::rowText(y, 0, 79), expected) << "row " << y;
  }
};

TEST_F(GameFrameTest, ClosingTheStoryFadesOutToTheEndScreen) {
  const auto game = gameWithPartition(5, 5);
  game->draw();  // the last frame, shown while the screen fades
  game->mode = FadeOut;
  display::setPresenting(false);  // the 256 fading steps need not reach the window here
  game->draw();
  display::setPresenting(true);

  EXPECT_EQ(game->mode, EndScreen);
  EXPECT_EQ(TCODConsole::getFade(), 255);
  expectCentredAlone(24, creditLine());
  expectCentredAlone(26, "Thanks for Playing");
  for (int y = 0; y < 50; ++y) {
    if (y == 24 || y == 26) continue;
    EXPECT_EQ(harness::rowText(y, 0, 79), std::string(80, ' ')) << "row " << y;
  }
  EXPECT_EQ(harness::cellAt(40, 26).fore, TCODColor::white);
  EXPECT_EQ(harness::cellAt(40, 26).back, TCODColor::black);
  EXPECT_GT(std::string(creditLine()).size(), 0u);
}

TEST_F(GameFrameTest, ThePresenterSeesEveryPresentedFlushAndNoSkippedOne) {
  int shown = 0;
  display::setPresenter([&shown] { ++shown; });
  display::flush();
  display::setPresenting(false);
  display::flush();
  display::setPresenting(true);
  display::setPresenter(nullptr);
  display::flush();
  EXPECT_EQ(shown, 1);
}

TEST_F(GameFrameTest, TheEndScreenStaysUntilEscapeAndAlwaysShowsAtFullBrightness) {
  const auto game = gameWithPartition(5, 5);
  game->mode = EndScreen;
  const int turns = game->turnCount;
  harness::KeyScript keys("x.<Up><Esc>");
  for (int i = 0; i < 3; ++i) {
    TCODConsole::setFade(100, TCODColor::black);
    TCODConsole::root->putChar(3, 3, 'Z');
    game->draw();
    EXPECT_EQ(TCODConsole::getFade(), 255);
    expectCentredAlone(26, "Thanks for Playing");
    EXPECT_EQ(harness::cellAt(3, 3).ch, ' ');
    EXPECT_TRUE(game->update());
    EXPECT_EQ(game->mode, EndScreen);
  }
  EXPECT_EQ(game->turnCount, turns);
  EXPECT_FALSE(game->update());  // Escape ends the run
  EXPECT_EQ(keys.remaining(), 0u);
}

}  // namespace

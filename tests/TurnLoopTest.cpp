// The turn loop as a player meets it: one key, then (when the key took time) one turn of the
// world: the story, every entity's turn, the removal of the dead and the view.

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <algorithm>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Game.hpp"
#include "Item.hpp"
#include "Keys.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"

namespace {

using harness::press;

// An open room with the player in the middle, and a bat walled into a cell of its own below
// it: the bat acts every turn (each action one rand() draw for its wandering) but never moves.
const std::vector<std::string> kRoom = {
    "#########",  //
    "#.......#",  //
    "#.......#",  //
    "#...@...#",  //
    "#.......#",  //
    "#.......#",  //
    "#########",  //
    "#b#######",  //
};
constexpr int kPlayerX = 4;
constexpr int kPlayerY = 3;

using harness::isRegistered;
using harness::press;

std::uint32_t largestId(const Game& game) {
  return game.registry.rbegin()->first;
}

class TurnLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    game = harness::gameFromDrawing(kRoom);
    player = game->player;
    bat = harness::creaturesOf(*game).at(0);
  }

  // What a key that costs no turn must leave alone.
  void expectNoTurnPassed(int batEnergy) {
    EXPECT_EQ(game->turnCount, 0);
    EXPECT_EQ(player->hunger, Player::kStartingHunger);
    EXPECT_EQ(bat->energy, batEnergy) << "the creatures acted";
    EXPECT_EQ(player->x, kPlayerX);
    EXPECT_EQ(player->y, kPlayerY);
  }

  std::unique_ptr<Game> game;
  Player* player = nullptr;
  NPC* bat = nullptr;
};

// ---- Normal keys -------------------------------------------------------------------------

TEST_F(TurnLoopTest, EveryMoveKeyStepsItsWayAndPassesOneTurn) {
  struct MoveKey {
    const char* script;
    int dx;
    int dy;
  };
  const MoveKey moves[] = {
      {"<Left>", -1, 0}, {"h", -1, 0}, {"<Right>", 1, 0}, {"l", 1, 0},
      {"<Up>", 0, -1},   {"k", 0, -1}, {"<Down>", 0, 1},  {"j", 0, 1},
      {"y", -1, -1},     {"u", 1, -1}, {"b", -1, 1},      {"n", 1, 1},
  };
  for (const MoveKey& move : moves) {
    SCOPED_TRACE(move.script);
    game = harness::gameFromDrawing(kRoom);
    Player& p = *game->player;
    EXPECT_TRUE(press(*game, move.script));
    EXPECT_EQ(p.x, kPlayerX + move.dx);
    EXPECT_EQ(p.y, kPlayerY + move.dy);
    EXPECT_EQ(game->turnCount, 1);
    EXPECT_EQ(p.hunger, Player::kStartingHunger + 1);
    EXPECT_EQ(game->map->tileAt(p.x, p.y).blockingEntity(), &p);
    EXPECT_TRUE(game->map->tileAt(kPlayerX, kPlayerY).entities.empty());
  }
}

TEST_F(TurnLoopTest, WaitingPassesATurnInPlace) {
  const std::size_t draws = harness::countRandDraws([&] { EXPECT_TRUE(press(*game, ".")); });
  EXPECT_EQ(game->turnCount, 1);
  EXPECT_EQ(player->hunger, Player::kStartingHunger + 1);
  EXPECT_EQ(player->x, kPlayerX);
  EXPECT_EQ(player->y, kPlayerY);
  EXPECT_EQ(bat->energy, 4);
  EXPECT_EQ(draws, 1u) << "the bat's one wandering action";
}

TEST_F(TurnLoopTest, KeysThatOpenScreensOrFindNothingCostNoTurn) {
  EXPECT_TRUE(press(*game, "g"));
  expectNoTurnPassed(0);
  EXPECT_EQ(game->mode, Normal);
  EXPECT_EQ(player->inventory.size(), 1u);

  EXPECT_TRUE(press(*game, "i"));
  EXPECT_EQ(game->mode, Inventory);
  expectNoTurnPassed(0);

  game = harness::gameFromDrawing(kRoom);
  player = game->player;
  bat = harness::creaturesOf(*game).at(0);
  EXPECT_TRUE(press(*game, "d"));
  EXPECT_EQ(game->mode, Drop);
  expectNoTurnPassed(0);
}

TEST_F(TurnLoopTest, EscapeEndsTheRunWithoutATurn) {
  EXPECT_FALSE(press(*game, "<Esc>"));
  expectNoTurnPassed(0);
}

TEST_F(TurnLoopTest, HomeHandsOverBatMeatWithoutATurnAndWithoutRegistering) {
  const std::size_t registered = game->registry.size();
  for (int i = 1; i <= 30; ++i) {  // past any limit of the inventory
    EXPECT_TRUE(press(*game, "<Home>"));
    ASSERT_EQ(player->inventory.size(), 1u + static_cast<std::size_t>(i));
    const Item* meat = player->inventory.back();
    EXPECT_EQ(meat->kind, BatMeat);
    EXPECT_EQ(meat->name, "bat meat");
    EXPECT_EQ(meat->x, -1);
    EXPECT_EQ(meat->y, -1);
    EXPECT_FALSE(isRegistered(*game, meat));
  }
  EXPECT_EQ(game->registry.size(), registered);
  expectNoTurnPassed(0);
}

TEST_F(TurnLoopTest, EveryOtherKeyDoesNothing) {
  std::vector<TCOD_key_t> keys;
  for (char c = '0'; c <= '9'; ++c)
    keys.push_back(harness::characterKey(c));
  for (int f = 0; f < 12; ++f)
    keys.push_back(harness::plainKey(static_cast<TCOD_keycode_t>(TCODK_F1 + f)));
  for (int kp = TCODK_KP0; kp <= TCODK_KPENTER; ++kp) {
    keys.push_back(harness::plainKey(static_cast<TCOD_keycode_t>(kp)));
  }
  for (char c : std::string("hjklyubngid."))
    keys.push_back(harness::shiftedKey(c));  // 'H', '>', ...
  for (char c : std::string("acefmopqrstvwxz ,/;<>-="))
    keys.push_back(harness::characterKey(c));
  for (TCOD_keycode_t vk :
       {TCODK_END, TCODK_PAGEUP, TCODK_PAGEDOWN, TCODK_ENTER, TCODK_TAB, TCODK_BACKSPACE,
        TCODK_DELETE, TCODK_INSERT, TCODK_PAUSE, TCODK_PRINTSCREEN, TCODK_SHIFT, TCODK_CONTROL,
        TCODK_ALT, TCODK_CAPSLOCK, TCODK_LWIN, TCODK_APPS, TCODK_TEXT}) {
    keys.push_back(harness::plainKey(vk));
  }
  TCOD_key_t highByte = harness::characterKey('h');
  highByte.c = static_cast<char>(0xe9);  // a character outside ASCII
  keys.push_back(highByte);
  TCOD_key_t nul = harness::characterKey('h');
  nul.c = 0;
  keys.push_back(nul);
  // A key the game's key table binds since (a new command) is no longer one of these.
  keys.erase(
      std::remove_if(keys.begin(), keys.end(),
                     [](const TCOD_key_t& key) { return harness::actionOf(key) != Action::None; }),
      keys.end());

  const std::string before = harness::lastMessage(*game);
  const std::size_t logSize = game->messageLog.entries().size();
  for (const TCOD_key_t& key : keys) {
    SCOPED_TRACE(testing::Message() << "vk " << key.vk << ", c " << int{key.c});
    std::size_t draws = 0;
    draws = harness::countRandDraws([&] { EXPECT_TRUE(press(*game, key)); });
    EXPECT_EQ(draws, 0u);
    expectNoTurnPassed(0);
    EXPECT_EQ(game->mode, Normal);
    EXPECT_EQ(player->inventory.size(), 1u);
  }
  EXPECT_EQ(harness::lastMessage(*game), before);
  EXPECT_EQ(game->messageLog.entries().size(), logSize);
}

// A closed window makes the key wait answer with no key at all: the run stops, no turn passes.
TEST_F(TurnLoopTest, NoKeyFromAClosedWindowPassesNoTurn) {
  EXPECT_TRUE(press(*game, "<None>"));
  expectNoTurnPassed(0);
  EXPECT_EQ(game->mode, Normal);
  EXPECT_FALSE(TCODConsole::isWindowClosed()) << "a scripted <None> does not close the window";

  EXPECT_TRUE(press(*game, "i<None>"));  // the menus pass a turn on every key, but not on none
  EXPECT_EQ(game->mode, Inventory);
  expectNoTurnPassed(0);
}

// The key the game names for a command is the first row of its key table that asks for it;
// for a command no key asks for, it names no key.
TEST(KeyTableTest, EachCommandsKeyIsTheFirstRowAskingForIt) {
  const KeyTable table = normalKeys();
  for (const KeyBinding& row : table) {
    const Action action = row.command.action;
    const auto first = std::find_if(table.begin(), table.end(), [action](const KeyBinding& b) {
      return b.command.action == action;
    });
    const KeyBinding named = keyFor(action);
    EXPECT_EQ(named.vk, first->vk) << static_cast<int>(action);
    EXPECT_EQ(named.c, first->c) << static_cast<int>(action);
    EXPECT_EQ(named.command.action, action);
  }
  EXPECT_EQ(keyFor(Action::Quit).vk, TCODK_ESCAPE);
  EXPECT_EQ(keyFor(Action::Move).vk, TCODK_LEFT);
  EXPECT_EQ(keyFor(Action::Wait).c, '.');
  EXPECT_EQ(keyFor(Action::None).vk, TCODK_NONE);
}

// ---- Moving -------------------------------------------------------------------------------

TEST(TurnLoopMoveTest, WallsAndDeepWaterCostNothing) {
  auto game = harness::gameFromDrawing({
      "#####",  //
      "#~@.#",  //
      "#####",  //
      "#b###",  //
  });
  NPC* bat = harness::creaturesOf(*game).at(0);
  for (const char* into : {"h", "k", "j", "y", "u", "b", "n", "<Up>", "<Left>", "<Down>"}) {
    SCOPED_TRACE(into);
    const std::size_t draws = harness::countRandDraws([&] { EXPECT_TRUE(press(*game, into)); });
    EXPECT_EQ(draws, 0u);
    EXPECT_EQ(game->turnCount, 0);
    EXPECT_EQ(bat->energy, 0);
    EXPECT_EQ(game->player->x, 2);
    EXPECT_EQ(game->player->y, 1);
  }
  EXPECT_TRUE(press(*game, "l"));
  EXPECT_EQ(game->turnCount, 1);
  EXPECT_EQ(game->player->x, 3);
}

TEST(TurnLoopMoveTest, ShallowWaterAndItemsDoNotBlock) {
  auto game = harness::gameFromDrawing({
      "#######",  //
      "#@,*..#",  //
      "#######",  //
  });
  Player& player = *game->player;
  const Tile& stoneTile = game->map->tileAt(3, 1);
  ASSERT_EQ(stoneTile.entities.size(), 1u);
  Entity* stone = stoneTile.entities.front();

  EXPECT_TRUE(press(*game, "l"));
  EXPECT_EQ(player.x, 2);
  EXPECT_TRUE(press(*game, "l"));
  EXPECT_EQ(player.x, 3);
  EXPECT_EQ(game->turnCount, 2);
  // The stone stays where it lay, first in the list; the player arrived behind it.
  EXPECT_EQ(stoneTile.entities, (std::list<Entity*>{stone, &player}));
  EXPECT_EQ(player.inventory.size(), 1u) << "nothing is picked up without 'g'";

  EXPECT_TRUE(press(*game, "g"));
  EXPECT_EQ(game->turnCount, 3);
  ASSERT_EQ(player.inventory.size(), 2u);
  EXPECT_EQ(player.inventory.back(), stone);
  EXPECT_EQ(harness::lastMessage(*game), "You pick up a small stone.");
  EXPECT_EQ(stoneTile.entities, (std::list<Entity*>{&player}));
}

TEST(TurnLoopMoveTest, WalkingIntoACreatureAttacksAndDoesNotMove) {
  auto game = harness::gameFromDrawing({
      "#####",  //
      "#@B.#",  //
      "#####",  //
  });
  NPC* bear = harness::creaturesOf(*game).at(0);
  EXPECT_TRUE(press(*game, "l"));
  EXPECT_EQ(game->turnCount, 1);
  EXPECT_EQ(game->player->x, 1);
  EXPECT_EQ(bear->x, 2);
  EXPECT_TRUE(bear->angry);
  EXPECT_EQ(bear->target, game->player);
  // From the scenario's srand(1) the hit roll is 3, under the player's accuracy of 7; the
  // damage roll is 1 of 0-2, and the weapon and armour rolls are 0 of 0: 1 + 1 = 2.
  EXPECT_EQ(harness::lastMessage(*game), "You hit the bear for 2 damage!");
}

// ---- The story ----------------------------------------------------------------------------

class MilestoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    game = harness::gameFromDrawing({
        "#####",  //
        "#.@.#",  //
        "#####",  //
    });
  }

  // Waits until `turn` and expects no story on the way.
  void waitQuietlyUntil(int turn) {
    while (game->turnCount < turn) {
      const std::string before = harness::lastMessage(*game);
      const int stage = game->storyStage;
      ASSERT_TRUE(press(*game, "."));
      ASSERT_EQ(harness::lastMessage(*game), before) << "at turn " << game->turnCount;
      ASSERT_EQ(game->storyStage, stage);
    }
  }

  // Waits one turn and expects exactly `message` from the story.
  void expectMilestone(const std::string& message, int stage) {
    const std::size_t before = game->messageLog.entries().size();
    ASSERT_TRUE(press(*game, "."));
    EXPECT_EQ(harness::lastMessage(*game), message) << "at turn " << game->turnCount;
    EXPECT_EQ(game->messageLog.entries().size(), std::min<std::size_t>(before + 1, 20));
    EXPECT_EQ(game->storyStage, stage);
  }

  std::unique_ptr<Game> game;
};

const std::string kFourthTurn = "You can't remember anything. You hear the flapping of wings.";
const std::string kThirtyFirstTurn =
    "Slowly, some memories start coming back to you. This cave feels familiar.";
const std::string kNoteMilestone =
    "You remember why you are in this cave. You pull something out of your pocket. CHECK "
    "INVENTORY";

TEST_F(MilestoneTest, TheFourthAndTheThirtyFirstTurnBringBackMemories) {
  ASSERT_NO_FATAL_FAILURE(waitQuietlyUntil(3));
  ASSERT_NO_FATAL_FAILURE(expectMilestone(kFourthTurn, 1));
  ASSERT_NO_FATAL_FAILURE(waitQuietlyUntil(30));
  ASSERT_NO_FATAL_FAILURE(expectMilestone(kThirtyFirstTurn, 2));
  ASSERT_NO_FATAL_FAILURE(waitQuietlyUntil(60));
}

TEST_F(MilestoneTest, TheThirtyFirstTurnGivesNoKillMilestoneEvenWithKillsAvailable) {
  ASSERT_NO_FATAL_FAILURE(waitQuietlyUntil(3));
  ASSERT_NO_FATAL_FAILURE(expectMilestone(kFourthTurn, 1));
  ASSERT_NO_FATAL_FAILURE(waitQuietlyUntil(30));
  game->killCount = 6;
  ASSERT_NO_FATAL_FAILURE(expectMilestone(kThirtyFirstTurn, 2));
  ASSERT_NO_FATAL_FAILURE(expectMilestone("You feel stronger.", 3));
  ASSERT_NO_FATAL_FAILURE(waitQuietlyUntil(40));
}

TEST_F(MilestoneTest, FortyKillsBeforeTurnThirtyOneThenOneMilestonePerTurn) {
  game->killCount = 40;
  ASSERT_NO_FATAL_FAILURE(waitQuietlyUntil(3));
  ASSERT_NO_FATAL_FAILURE(expectMilestone(kFourthTurn, 1));
  ASSERT_NO_FATAL_FAILURE(waitQuietlyUntil(30));
  ASSERT_NO_FATAL_FAILURE(expectMilestone(kThirtyFirstTurn, 2));
  ASSERT_NO_FATAL_FAILURE(expectMilestone("You feel stronger.", 3));
  ASSERT_NO_FATAL_FAILURE(expectMilestone("You feel full of life.", 4));
  ASSERT_NO_FATAL_FAILURE(
      expectMilestone("You can feel your primal side taking over. It feels good.", 5));
  ASSERT_EQ(game->player->inventory.size(), 1u);
  ASSERT_NO_FATAL_FAILURE(expectMilestone(kNoteMilestone, 6));
  ASSERT_NO_FATAL_FAILURE(waitQuietlyUntil(45));  // stage 6 is the last

  // The note went straight into the pocket: appended, off the map, never registered.
  ASSERT_EQ(game->player->inventory.size(), 2u);
  const Item* note = game->player->inventory.back();
  EXPECT_EQ(note->kind, BloodyNote);
  EXPECT_EQ(note->name, "a crumpled bloody note");
  EXPECT_EQ(note->x, -1);
  EXPECT_EQ(note->y, -1);
  EXPECT_FALSE(isRegistered(*game, note));
  EXPECT_EQ(game->player->inventory.front()->kind, MysteriousMeat);
}

// Each milestone: nothing at exactly its count, its message at one more (one more kill, or the
// next turn).
struct CountedMilestone {
  int stage;
  bool byKills;
  int threshold;
  const char* message;
};

class MilestoneAtItsThresholdTest : public MilestoneTest,
                                    public ::testing::WithParamInterface<CountedMilestone> {};

TEST_P(MilestoneAtItsThresholdTest, ComesAtOneMoreThanItsThreshold) {
  const CountedMilestone& m = GetParam();
  game->storyStage = m.stage;
  if (m.byKills) {
    game->turnCount = 31;
    game->killCount = m.threshold;
    waitQuietlyUntil(33);
    game->killCount = m.threshold + 1;
  } else {
    game->turnCount = m.threshold - 2;
    waitQuietlyUntil(m.threshold);
  }
  ASSERT_NO_FATAL_FAILURE(expectMilestone(m.message, m.stage + 1));
}

INSTANTIATE_TEST_SUITE_P(
    EveryMilestone, MilestoneAtItsThresholdTest,
    ::testing::Values(CountedMilestone{0, false, 3, kFourthTurn.c_str()},
                      CountedMilestone{1, false, 30, kThirtyFirstTurn.c_str()},
                      CountedMilestone{2, true, 5, "You feel stronger."},
                      CountedMilestone{3, true, 15, "You feel full of life."},
                      CountedMilestone{4, true, 20,
                                       "You can feel your primal side taking over. It feels good."},
                      CountedMilestone{5, true, 30, kNoteMilestone.c_str()}),
    [](const ::testing::TestParamInfo<CountedMilestone>& info) {
      const CountedMilestone& m = info.param;
      return harness::caseName("stage " + std::to_string(m.stage) + " after " +
                               std::to_string(m.threshold) + (m.byKills ? " kills" : " turns"));
    });

// ---- The removal of the dead --------------------------------------------------------------

TEST(RemovalTest, EachDeadCreatureLeavesItsCorpseAndCountsAsAKill) {
  auto game = harness::gameFromDrawing({
      "#######",  //
      "#@.b.s#",  //
      "#.....#",  //
      "#######",  //
      "#k#####",  //
  });
  const std::vector<NPC*> creatures = harness::creaturesOf(*game);
  NPC* bat = creatures.at(0);
  NPC* snake = creatures.at(1);
  NPC* kitten = creatures.at(2);
  const std::uint32_t batId = bat->id;
  const std::uint32_t snakeId = snake->id;
  const std::uint32_t before = largestId(*game);
  // Whoever did the killing, the scan takes every dead creature away.
  bat->dead = true;
  snake->dead = true;

  EXPECT_TRUE(press(*game, "."));
  EXPECT_EQ(game->killCount, 2);
  EXPECT_EQ(game->registry.count(batId), 0u);
  EXPECT_EQ(game->registry.count(snakeId), 0u);
  EXPECT_TRUE(isRegistered(*game, kitten));
  ASSERT_EQ(game->registry.size(), 4u) << "the player, the kitten and two corpses";

  const struct {
    int x, y, kind;
    const char* name;
  } corpses[] = {{3, 1, BatCorpse, "a bat corpse"}, {5, 1, SnakeCorpse, "a snake corpse"}};
  std::uint32_t previous = before;
  for (const auto& expected : corpses) {
    SCOPED_TRACE(expected.name);
    const Tile& tile = game->map->tileAt(expected.x, expected.y);
    ASSERT_EQ(tile.entities.size(), 1u) << "the creature left its tile";
    const auto* corpse = dynamic_cast<const Item*>(tile.entities.front());
    ASSERT_NE(corpse, nullptr);
    EXPECT_EQ(corpse->kind, expected.kind);
    EXPECT_EQ(corpse->name, expected.name);
    EXPECT_GT(corpse->id, previous) << "corpses come in the order of the scan, after every id";
    previous = corpse->id;
    EXPECT_TRUE(isRegistered(*game, corpse));
  }
  EXPECT_EQ(game->map->entityAt(3, 1), nullptr);

  EXPECT_TRUE(press(*game, "."));  // a corpse is not dead: nothing more to remove
  EXPECT_EQ(game->killCount, 2);
  EXPECT_EQ(game->registry.size(), 4u);
}

TEST(RemovalTest, EveryKindLeavesItsOwnCorpseOnItsCell) {
  const struct {
    const char* row;
    int kind;
    const char* corpseName;
    const char* slain;
  } kinds[] = {
      {"#@b#", BatCorpse, "a bat corpse", "You have slain the bat!"},
      {"#@s#", SnakeCorpse, "a snake corpse", "You have slain the snake!"},
      {"#@B#", BearCorpse, "a bear corpse", "You have slain the bear!"},
      {"#@k#", KittenCorpse, "a kitten corpse", "You have slain the kitten!"},
  };
  for (const auto& expected : kinds) {
    SCOPED_TRACE(expected.corpseName);
    auto game = harness::gameFromDrawing({"####", expected.row, "####"});
    NPC* creature = harness::creaturesOf(*game).at(0);
    const std::uint32_t creatureId = creature->id;
    const std::uint32_t before = largestId(*game);
    creature->hp = 1;
    game->player->accuracy = 10;  // every blow lands, and any blow of the player does damage

    EXPECT_TRUE(press(*game, "l"));
    EXPECT_EQ(harness::lastMessage(*game), expected.slain);
    EXPECT_EQ(game->killCount, 1);
    EXPECT_EQ(game->registry.count(creatureId), 0u);
    const Tile& tile = game->map->tileAt(2, 1);
    ASSERT_EQ(tile.entities.size(), 1u);
    const auto* corpse = dynamic_cast<const Item*>(tile.entities.front());
    ASSERT_NE(corpse, nullptr);
    EXPECT_EQ(corpse->kind, expected.kind);
    EXPECT_EQ(corpse->name, expected.corpseName);
    EXPECT_EQ(corpse->x, 2);
    EXPECT_EQ(corpse->y, 1);
    EXPECT_GT(corpse->id, before);
    EXPECT_TRUE(isRegistered(*game, corpse));

    game->draw();  // no creature stands on it: the corpse is what the cell shows
    EXPECT_EQ(harness::cellAt(2, 1).ch, static_cast<unsigned char>(corpse->glyph));
  }
}

// ---- The player's death -------------------------------------------------------------------

class DeathTest : public ::testing::Test {
 protected:
  // The player between a kitten and a snake that never misses; one blow of the snake kills.
  void SetUp() override {
    game = harness::gameFromDrawing({
        "#####",  //
        "#k@s#",  //
        "#####",  //
    });
    kitten = harness::creaturesOf(*game).at(0);
    snake = harness::creaturesOf(*game).at(1);
    snake->accuracy = 10;
    game->player->hp = 2;
    game->player->accuracy = 10;
  }

  std::unique_ptr<Game> game;
  NPC* kitten = nullptr;
  NPC* snake = nullptr;
};

TEST_F(DeathTest, TheKillingBlowLogsOnlyItsHitLineAndTheTurnEndsWithTheDeath) {
  EXPECT_TRUE(press(*game, "."));
  EXPECT_TRUE(game->player->dead);
  EXPECT_LE(game->player->hp, 0);
  const std::vector<std::string> log = harness::messages(*game);
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "You have died alone...");
  const std::string hit =
      "The snake hits you for " + std::to_string(2 - game->player->hp) + " damage!";
  EXPECT_EQ(log[1], hit);
  EXPECT_EQ(log[2].rfind("You wake up", 0), 0u) << "nothing else was logged: " << log[2];
  EXPECT_TRUE(isRegistered(*game, game->player)) << "the player stays";
  EXPECT_TRUE(game->map->isInFov(2, 1));
}

TEST_F(DeathTest, TheScanStopsAtThePlayerAndLeavesTheSlainWhereTheyFell) {
  EXPECT_TRUE(press(*game, "h"));  // kills the kitten; the snake then kills the player
  ASSERT_TRUE(game->player->dead);
  EXPECT_TRUE(kitten->dead);
  EXPECT_LE(kitten->hp, 0);
  EXPECT_TRUE(isRegistered(*game, kitten)) << "the scan stopped at the player, who comes first";
  EXPECT_EQ(game->killCount, 0);
  EXPECT_EQ(game->map->tileAt(1, 1).entities, (std::list<Entity*>{kitten}));
  const std::vector<std::string> log = harness::messages(*game);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], "You have died alone...");
  EXPECT_EQ(log[1].rfind("The snake hits you for ", 0), 0u) << log[1];
  EXPECT_EQ(log[2], "You have slain the kitten!");

  game->draw();  // the frame of a dead player, with a slain kitten still lying there
  EXPECT_EQ(harness::cellAt(1, 1).ch, 'k');
  EXPECT_EQ(harness::cellAt(2, 1).ch, '@');
}

TEST_F(DeathTest, OnceDeadOnlyEscapeDoesAnything) {
  ASSERT_TRUE(press(*game, "."));
  ASSERT_TRUE(game->player->dead);
  const int turn = game->turnCount;
  const std::size_t logSize = game->messageLog.entries().size();
  const int snakeX = snake->x;
  for (const char* key : {".", "h", "l", "g", "i", "d", "z", "a", "<Home>", "<F1>", "<KP5>", "<Up>",
                          "<Enter>", "<S-h>"}) {
    SCOPED_TRACE(key);
    const std::size_t draws = harness::countRandDraws([&] { EXPECT_TRUE(press(*game, key)); });
    EXPECT_EQ(draws, 0u);
    EXPECT_EQ(game->turnCount, turn);
    EXPECT_EQ(game->mode, Normal);
    EXPECT_EQ(game->player->inventory.size(), 1u);
    EXPECT_EQ(game->messageLog.entries().size(), logSize);
    EXPECT_EQ(snake->x, snakeX);
  }
  EXPECT_FALSE(press(*game, "<Esc>"));
  EXPECT_EQ(game->turnCount, turn);
}

TEST(CrowdDeathTest, SeveralBlowsOnTheFallenAreAllLoggedWithoutASlainLine) {
  auto crowd = harness::gameFromDrawing({
      "#####",  //
      "#s@s#",  //
      "#####",  //
  });
  for (NPC* creature : harness::creaturesOf(*crowd))
    creature->accuracy = 10;
  crowd->player->hp = 1;
  EXPECT_TRUE(press(*crowd, "."));
  const std::vector<std::string> log = harness::messages(*crowd);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], "You have died alone...");
  EXPECT_EQ(log[1].rfind("The snake hits you for ", 0), 0u) << log[1];
  EXPECT_EQ(log[2].rfind("The snake hits you for ", 0), 0u) << log[2];
  EXPECT_EQ(log[3].rfind("You wake up", 0), 0u) << log[3];
  // Each blow came off in full: the hit points fell through zero by both.
  const int blows = std::stoi(log[1].substr(23)) + std::stoi(log[2].substr(23));
  EXPECT_EQ(crowd->player->hp, 1 - blows);
}

}  // namespace

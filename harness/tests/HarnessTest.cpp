// The harness: the invariant checks catch each broken rule, the screen and the state read back
// faithfully, key scripts round-trip and the random keys cover every key.

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <cstdlib>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "Cp437.hpp"
#include "Entity.hpp"
#include "Game.hpp"
#include "Invariants.hpp"
#include "Item.hpp"
#include "Keys.hpp"
#include "Map.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"
#include "State.hpp"

namespace {

using namespace harness;

// A small level: the player with a bat to the east, a bear below and a stone beside it.
std::unique_ptr<Game> smallGame() {
  return harness::gameFromDrawing({
      "#######",
      "#@.b..#",
      "#.....#",
      "#..B*.#",
      "#######",
  });
}

Item* stoneOf(const Game& game) {
  for (const auto& [id, entity] : game.registry) {
    if (auto* item = dynamic_cast<Item*>(entity); item != nullptr && item->kind == SmallStone) {
      return item;
    }
  }
  return nullptr;
}

// ---- Invariants --------------------------------------------------------------------------------

TEST(InvariantsTest, HoldInFreshAndPlayedGames) {
  std::srand(0);
  harness::fixPartition(3);
  Game game;
  EXPECT_EQ(checkInvariants(game), "");

  auto small = smallGame();
  EXPECT_EQ(checkInvariants(*small), "");
  // Picked up, equipped and dropped items keep every rule.
  Player& player = *small->player;
  Item* stone = stoneOf(*small);
  ASSERT_NE(stone, nullptr);
  player.moveTo(stone->x, stone->y);
  ASSERT_TRUE(player.pickUp());
  player.useItem(static_cast<unsigned>(player.inventory.size() - 1));  // crafted: a weapon
  player.useItem(static_cast<unsigned>(player.inventory.size() - 1));  // and wielded
  player.drop(0);                                                      // the meat, unregistered
  EXPECT_TRUE(player.inventory.back()->equipped);
  EXPECT_EQ(checkInvariants(*small), "");
}

TEST(InvariantsTest, ReportAnEntityListedTwiceOrOnTheWrongTile) {
  auto game = smallGame();
  NPC* bat = creatureNamed(*game, "bat");
  game->map->tileAt(bat->x, bat->y).add(bat);
  const std::string twice = checkInvariants(*game);
  EXPECT_NE(twice.find("tile 3,1 lists entity " + std::to_string(bat->id) +
                       " (bat at 3,1) more than once"),
            std::string::npos)
      << twice;
  game->map->tileAt(bat->x, bat->y).remove(bat->id);

  game->map->tileAt(bat->x, bat->y).remove(bat->id);
  game->map->tileAt(5, 2).add(bat);
  const std::string elsewhere = checkInvariants(*game);
  EXPECT_NE(elsewhere.find("tile 5,2 lists entity " + std::to_string(bat->id) +
                           " (bat at 3,1), which stands elsewhere"),
            std::string::npos)
      << elsewhere;
  game->map->tileAt(5, 2).remove(bat->id);
  game->map->tileAt(bat->x, bat->y).add(bat);
  EXPECT_EQ(checkInvariants(*game), "");
}

TEST(InvariantsTest, ReportTwoBlockingEntitiesOnOneTile) {
  auto game = smallGame();
  NPC* bat = creatureNamed(*game, "bat");
  NPC* bear = creatureNamed(*game, "bear");
  bat->moveTo(bear->x, bear->y);  // no bump: both stand there
  const std::string report = checkInvariants(*game);
  EXPECT_NE(report.find("tile 3,3 holds 2 blocking entities"), std::string::npos) << report;
}

TEST(InvariantsTest, ReportACarriedItemStillOnTheLevel) {
  auto game = smallGame();
  Item* stone = stoneOf(*game);
  game->player->inventory.push_back(stone);  // carried without leaving its tile
  const std::string report = checkInvariants(*game);
  EXPECT_NE(report.find("carried entity " + std::to_string(stone->id) +
                        " (item \"a small stone\" kind 11 at 4,3) is not at -1,-1"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("is still in a tile list"), std::string::npos) << report;
  game->player->inventory.pop_back();
}

TEST(InvariantsTest, ReportARegistryEntryOfAnEntityThatLeftTheGame) {
  auto game = smallGame();
  NPC* bat = creatureNamed(*game, "bat");
  game->map->tileAt(bat->x, bat->y).remove(bat->id);  // as if destroyed: on no tile
  const std::string report = checkInvariants(*game);
  EXPECT_NE(report.find("registry entry " + std::to_string(bat->id) +
                        " is on no tile and in no inventory: a destroyed or lost entity"),
            std::string::npos)
      << report;
  game->map->tileAt(bat->x, bat->y).add(bat);
}

TEST(InvariantsTest, ReportEquipmentOutOfStep) {
  auto game = smallGame();
  Player& player = *game->player;
  player.inventory.push_back(new Item(&game->messageLog, game->map.get(), -1, -1, BatPeltHat));
  Item* hat = player.inventory.back();
  player.equipment[Head] = hat;  // worn but not marked
  std::string report = checkInvariants(*game);
  EXPECT_NE(report.find("equipment slot 1 holds unequipped entity"), std::string::npos) << report;

  hat->equipped = true;
  player.equipment[Head] = nullptr;  // marked but in no slot
  report = checkInvariants(*game);
  EXPECT_NE(report.find("equipped entity " + std::to_string(hat->id) + " (item \"" + hat->name +
                        "\" kind 24 at -1,-1) is not the one in its slot"),
            std::string::npos)
      << report;

  player.equipment[Body] = hat;  // a hat in the body slot
  report = checkInvariants(*game);
  EXPECT_NE(report.find("equipment slot 2 holds entity"), std::string::npos) << report;
  EXPECT_NE(report.find("of slot 1"), std::string::npos) << report;

  Item outside(&game->messageLog, game->map.get(), -1, -1, BatPeltShirt);
  player.equipment[Body] = &outside;  // worn but not carried
  report = checkInvariants(*game);
  EXPECT_NE(report.find("equipment slot 2 holds an item that is not in the inventory"),
            std::string::npos)
      << report;
  player.equipment[Body] = nullptr;
}

TEST(InvariantsTest, ReportNegativeHungerAndCreaturesOffTheGround) {
  auto game = smallGame();
  game->player->hunger = -1;
  NPC* bear = creatureNamed(*game, "bear");
  game->map->setTile(bear->x, bear->y, Wall);
  const std::string report = checkInvariants(*game);
  EXPECT_NE(report.find("the player's hunger is -1"), std::string::npos) << report;
  EXPECT_NE(report.find("entity " + std::to_string(bear->id) +
                        " (bear at 3,3) does not stand on a walkable cell"),
            std::string::npos)
      << report;
}

TEST(InvariantsTest, ReportATargetThatLeftTheGame) {
  auto game = smallGame();
  NPC* bat = creatureNamed(*game, "bat");
  NPC* bear = creatureNamed(*game, "bear");
  {
    NPC gone(&game->messageLog, game->map.get(), -1, -1, Snake);
    bat->target = &gone;  // never in the game
    const std::string report = checkInvariants(*game);
    EXPECT_NE(report.find("entity " + std::to_string(bat->id) +
                          " (bat at 3,1) has a target that is no longer in the game"),
              std::string::npos)
        << report;
  }
  bat->target = bear;
  EXPECT_EQ(checkInvariants(*game), "");
  bat->target = nullptr;
}

// ---- The state hash ----------------------------------------------------------------------------

TEST(StateHashTest, IsStableAndFollowsEveryPartOfTheState) {
  auto game = smallGame();
  const std::uint64_t start = stateHash(*game);
  EXPECT_EQ(stateHash(*game), start);

  std::set<std::uint64_t> seen{start};
  const auto changed = [&](const char* what) {
    const std::uint64_t now = stateHash(*game);
    EXPECT_TRUE(seen.insert(now).second) << what << " did not change the hash";
  };
  game->turnCount += 1;
  changed("the turn");
  creatureNamed(*game, "bear")->hp -= 1;
  changed("a creature's hit points");
  creatureNamed(*game, "bat")->angry = true;
  changed("a creature's anger");
  game->player->hunger += 1;
  changed("hunger");
  game->map->tileAt(5, 2).explored = true;
  changed("an explored cell");
  game->messageLog.add("You hear something.");
  changed("a message");
  game->player->drop(0);
  changed("an item dropped (unregistered)");
  game->mode = Inventory;
  changed("the mode");
}

// ---- The screen --------------------------------------------------------------------------------

class ScreenTest : public ::testing::Test {
 protected:
  void TearDown() override { TCODConsole::root->clear(); }
};

TEST_F(ScreenTest, TextIsFiftyLinesOfEightyCodePage437Characters) {
  TCODConsole& root = *TCODConsole::root;
  root.clear();
  root.putChar(0, 0, 205);
  root.putChar(1, 0, 247);
  root.putChar(2, 0, 1);
  root.putChar(3, 0, 7);
  root.putChar(4, 0, 15);
  root.putChar(5, 0, 'A');
  root.putChar(6, 0, 186);
  root.putChar(79, 49, '@');
  const std::string text = screenUtf8();
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_EQ(start, text.size()) << "the text ends with a line break";
  ASSERT_EQ(lines.size(), 50u);
  EXPECT_EQ(lines[0], "\u2550\u2248\u263A\u2022\u263CA\u2551" + std::string(73, ' '));
  EXPECT_EQ(lines[49], std::string(79, ' ') + "@");
  EXPECT_EQ(cp437::utf8(0), " ");
  EXPECT_EQ(cp437::utf8(206), "\u256C");
  EXPECT_EQ(cp437::utf8(127), "\u2302");
  EXPECT_EQ(cp437::utf8(255), "\u00A0");
}

TEST_F(ScreenTest, ColoursGiveEveryCellInRuns) {
  TCODConsole& root = *TCODConsole::root;
  root.clear();
  root.putCharEx(2, 0, '@', TCODColor(1, 2, 3), TCODColor(250, 0, 16));
  const std::string colours = screenColours();
  const std::string first = colours.substr(0, colours.find('\n'));
  EXPECT_EQ(first, "2*FFFFFF/000000 010203/FA0010 77*FFFFFF/000000");
  EXPECT_NE(colours.find("\n80*FFFFFF/000000\n"), std::string::npos);
}

// ---- Keys --------------------------------------------------------------------------------------

TEST(KeyScriptTest, ParsesCharactersNamesCommentsAndLineBreaks) {
  const std::vector<TCOD_key_t> keys =
      parseKeyScript("# a comment line\nh<Esc>\n<S-h><lt>1 <Home><F12><KP5><None><#65,120,1>\n");
  ASSERT_EQ(keys.size(), 11u);
  EXPECT_EQ(keys[0].vk, TCODK_CHAR);
  EXPECT_EQ(keys[0].c, 'h');
  EXPECT_EQ(keys[1].vk, TCODK_ESCAPE);
  EXPECT_EQ(keys[2].c, 'H');
  EXPECT_TRUE(keys[2].shift);
  EXPECT_EQ(keys[3].c, '<');
  EXPECT_EQ(keys[4].vk, TCODK_1);
  EXPECT_EQ(keys[5].vk, TCODK_SPACE);
  EXPECT_EQ(keys[6].vk, TCODK_HOME);
  EXPECT_EQ(keys[7].vk, TCODK_F12);
  EXPECT_EQ(keys[8].vk, TCODK_KP5);
  EXPECT_EQ(keys[9].vk, TCODK_NONE);
  EXPECT_EQ(keys[10].vk, TCODK_CHAR);
  EXPECT_EQ(keys[10].c, 'x');
  EXPECT_TRUE(keys[10].shift);
  EXPECT_TRUE(parseKeyScript("").empty());
  EXPECT_TRUE(parseKeyScript("# only a comment").empty());
}

// Every row of the game's key table has a share of the fuzzer's keys, and its key as the harness
// builds it reads back as the row's action; keyFor gives the first row of each action.
TEST(KeysTest, EveryActionOfTheKeyTableIsFuzzedAndBuiltFromTheTable) {
  for (const KeyBinding& binding : normalKeys()) {
    const Action action = binding.command.action;
    SCOPED_TRACE(describeKey(keyOf(binding)));
    EXPECT_NE(action, Action::None);
    EXPECT_GT(fuzzWeightOf(action), 0) << "a key the fuzzer never presses";
    EXPECT_EQ(actionOf(keyOf(binding)), action);
    EXPECT_EQ(actionOf(actionKey(action)), action);
    EXPECT_FALSE(actionKeys(action).empty());
  }
  EXPECT_EQ(describeKey(actionKey(Action::Wait)), ".");
  EXPECT_EQ(describeKey(actionKey(Action::Quit)), "<Esc>");
  EXPECT_EQ(keyFor(Action::None).vk, TCODK_NONE);
  EXPECT_EQ(fuzzWeightOf(Action::None), 0);
  EXPECT_EQ(actionOf(characterKey('z')), Action::None);
}

TEST(CaseNameTest, KeepsLettersAndDigitsAndJoinsTheRestWithOneUnderscore) {
  const struct {
    const char* words;
    const char* name;
  } cases[] = {{"after death", "after_death"},
               {"stage 5, 30 kills", "stage_5_30_kills"},
               {"  <Esc>\x1b ", "Esc"},
               {"\xff\x01", "_"},
               {"", "_"},
               {"---", "_"}};
  for (const auto& c : cases)
    EXPECT_EQ(caseName(c.words), c.name) << c.words;
  EXPECT_EQ(caseName(std::string("\x1b\xe9k", 3)), "k");
}

// The key the harness gives for each direction takes the player one step of the game's own step
// table in that direction; a number that is no direction has no key.
TEST(KeysTest, EachMoveKeyTakesTheStepOfItsDirection) {
  for (int direction = West; direction <= SouthEast; ++direction) {
    SCOPED_TRACE(direction);
    auto game = gameFromDrawing({
        "#####",
        "#...#",
        "#.@.#",
        "#...#",
        "#####",
    });
    const TCOD_key_t key = moveKey(direction);
    ASSERT_EQ(key.vk, TCODK_CHAR);
    press(*game, describeKey(key));
    const Step step = kSteps[static_cast<std::size_t>(direction)];
    EXPECT_EQ(game->player->x, 2 + step.dx);
    EXPECT_EQ(game->player->y, 2 + step.dy);
    EXPECT_EQ(game->turnCount, 1);
  }
  EXPECT_EQ(moveLetter(-1), 0);
  EXPECT_EQ(moveLetter(SouthEast + 1), 0);
}

TEST(KeyScriptTest, RejectsMalformedScripts) {
  for (const char* bad :
       {"<Esc", "<Nope>", "<F13>", "<S-ab>", "<#65,1>", "<#99,0,0>", "<#1,2,3,4>"}) {
    EXPECT_THROW(parseKeyScript(bad), std::invalid_argument) << bad;
  }
}

TEST(KeyScriptTest, EveryRandomKeyIsWrittenAsAScriptThatGivesItBack) {
  KeyFuzzer fuzzer(99);
  for (int i = 0; i < 20000; ++i) {
    const TCOD_key_t key = fuzzer.next();
    const std::string written = describeKey(key);
    const std::vector<TCOD_key_t> read = parseKeyScript(written);
    ASSERT_EQ(read.size(), 1u) << written;
    EXPECT_EQ(describeKey(read[0]), written);
    EXPECT_EQ(read[0].vk, key.vk) << written;
    EXPECT_EQ(read[0].c, key.c) << written;
    EXPECT_EQ(read[0].pressed, key.pressed) << written;
    EXPECT_EQ(read[0].shift, key.shift) << written;
    EXPECT_EQ(read[0].lctrl, key.lctrl) << written;
    EXPECT_EQ(read[0].ralt, key.ralt) << written;
  }
}

TEST(KeyFuzzerTest, IsReproducibleAndReachesEveryKeyCode) {
  KeyFuzzer first(5);
  KeyFuzzer second(5);
  KeyFuzzer other(6);
  std::set<int> codes;
  std::set<int> characters;
  int escapes = 0;
  bool differs = false;
  for (int i = 0; i < 100000; ++i) {
    const TCOD_key_t a = first.next();
    const TCOD_key_t b = second.next();
    ASSERT_EQ(describeKey(a), describeKey(b)) << "key " << i;
    differs = differs || describeKey(other.next()) != describeKey(a);
    codes.insert(a.vk);
    characters.insert(static_cast<unsigned char>(a.c));
    if (a.vk == TCODK_ESCAPE) ++escapes;
  }
  EXPECT_TRUE(differs);
  EXPECT_EQ(codes.size(), static_cast<std::size_t>(TCODK_TEXT) + 1) << "every key code";
  EXPECT_EQ(characters.size(), 256u) << "every character";
  EXPECT_GT(escapes, 100);
  for (int i = 0; i < 10000; ++i)
    ASSERT_NE(first.nextNotEscape().vk, TCODK_ESCAPE);
}

// ---- The partition -----------------------------------------------------------------------------

TEST(PartitionTest, AFixedPartitionAndSeedGiveTheSameCave) {
  const auto caveOf = [](std::uint32_t partition) {
    std::srand(0);
    fixPartition(partition);
    Game game;
    std::string cave;
    for (int y = 0; y < game.map->height; ++y) {
      for (int x = 0; x < game.map->width; ++x)
        cave += static_cast<char>('0' + game.map->tileAt(x, y).kind);
    }
    return cave;
  };
  EXPECT_EQ(caveOf(7), caveOf(7));
  EXPECT_NE(caveOf(7), caveOf(8));
}

}  // namespace

// What the player sees besides the level: the side panel, the ground line, the inventory, drop
// and note windows with their keys, and the whole way from the last memory to the end screen.
// Everything is read back from the root console after the game has drawn a frame.

#include "App.hpp"
#include "Display.hpp"
#include "Game.hpp"
#include "Item.hpp"
#include "Keys.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The window's cells on the root console: the window's top-left corner lies at (20, 5).
constexpr int kWindowX = 20;
constexpr int kWindowY = 5;

harness::Cell windowCell(int x, int y) {
  return harness::cellAt(kWindowX + x, kWindowY + y);
}
std::string windowText(int y, int x0, int x1) {
  return harness::rowText(kWindowY + y, kWindowX + x0, kWindowX + x1);
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::vector<std::string> wordsOf(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

constexpr const char* kNoteMilestone =
    "You remember why you are in this cave. You pull something out of your pocket. CHECK "
    "INVENTORY";

class InterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The colour codes the shell registers at start-up, which the panel's texts rely on.
    TCODConsole::setColorControl(TCOD_COLCTRL_1, TCODColor::red, TCODColor::black);
    TCODConsole::setColorControl(TCOD_COLCTRL_2, TCODColor::yellow, TCODColor::black);
    TCODConsole::setColorControl(TCOD_COLCTRL_3, TCODColor::green, TCODColor::black);
    TCODConsole::setColorControl(TCOD_COLCTRL_4, TCODColor::blue, TCODColor::black);
    TCODConsole::setColorControl(TCOD_COLCTRL_5, TCODColor::orange, TCODColor::black);
    harness::clearRoot();
  }
  void TearDown() override {
    display::setPresenting(true);
    TCODConsole::setFade(255, TCODColor::black);
    TCODConsole::root->clear();
  }

  // A game on `rows` whose first two memories have been told already, so that the log shows
  // only what the test does.
  void play(const std::vector<std::string>& rows) {
    game = harness::gameFromDrawing(rows);
    game->storyStage = 2;
  }
  void playInAnEmptyRoom() {
    play({
        "#######",
        "#.....#",
        "#..@..#",
        "#.....#",
        "#######",
    });
  }
  Player& player() { return *game->player; }
  Item* carry(int kind) { return harness::carry(*game, kind); }
  void press(const std::string& script) { ASSERT_TRUE(harness::press(*game, script)); }
  void press(TCOD_key_t key) { ASSERT_TRUE(harness::press(*game, key)); }
  void frame() { game->draw(); }

  std::unique_ptr<Game> game;
};

// ---- Side panel ------------------------------------------------------------------------------

using SidePanelTest = InterfaceTest;

TEST_F(SidePanelTest, HealthLineAndBar) {
  playInAnEmptyRoom();
  const struct {
    int hp;
    const char* text;
    int cells;
  } cases[] = {{20, "20/20", 10}, {19, "19/20", 9}, {10, "10/20", 5},
               {1, "1/20", 0},    {0, "0/20", 0},   {-3, "-3/20", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    player().hp = c.hp;
    frame();
    EXPECT_EQ(trimmed(harness::rowText(1, 70, 79)), c.text);
    EXPECT_EQ(harness::rowText(1, 71, 70 + static_cast<int>(std::string(c.text).size())), c.text);
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(harness::cellAt(70 + i, 1).back == TCODColor::darkRed, i < c.cells) << "cell " << i;
    }
  }
}

// The panel is cleared every frame, its top row included, whatever the console held there.
TEST_F(SidePanelTest, EveryFrameClearsThePanelsWholeArea) {
  playInAnEmptyRoom();
  for (int y = 0; y < 45; ++y) {
    for (int x = 70; x < 80; ++x)
      TCODConsole::root->putCharEx(x, y, 1, TCODColor::white, TCODColor::blue);
  }
  frame();
  for (int y = 0; y < 45; ++y) {
    for (int x = 70; x < 80; ++x) {
      SCOPED_TRACE(testing::Message() << "cell " << x << "," << y);
      EXPECT_NE(harness::cellAt(x, y).ch, 1);
      EXPECT_NE(harness::cellAt(x, y).back, TCODColor::blue);
    }
  }
}

TEST_F(SidePanelTest, ArmourAndDamageFollowTheWornGear) {
  playInAnEmptyRoom();
  frame();
  EXPECT_EQ(harness::rowText(3, 70, 79), "Armor: 1  ");
  EXPECT_EQ(harness::rowText(4, 70, 79), "Damage:2  ");

  const Item* hat = carry(BearPeltHelmet);
  const Item* claw = carry(BearClaw);
  press("ibc<Esc>");
  frame();
  EXPECT_EQ(trimmed(harness::rowText(3, 70, 79)), "Armor: " + std::to_string(1 + hat->bonus));
  EXPECT_EQ(trimmed(harness::rowText(4, 70, 79)), "Damage:" + std::to_string(2 + claw->bonus));
}

TEST_F(SidePanelTest, HungerShowsItsBandInItsColour) {
  playInAnEmptyRoom();
  const struct {
    int hunger;
    const char* text;
    TCODColor colour;
  } cases[] = {
      {0, "Not hungry", TCODColor::green},  {49, "Not hungry", TCODColor::green},
      {50, "Hungry", TCODColor::yellow},    {99, "Hungry", TCODColor::yellow},
      {100, "Famished", TCODColor::orange}, {149, "Famished", TCODColor::orange},
      {150, "Starving", TCODColor::red},    {249, "Starving", TCODColor::red},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.hunger));
    player().hunger = c.hunger;
    frame();
    const std::string text = c.text;
    EXPECT_EQ(trimmed(harness::rowText(5, 70, 79)), text);
    for (int i = 0; i < static_cast<int>(text.size()); ++i) {
      EXPECT_EQ(harness::cellAt(70 + i, 5).fore, c.colour) << "cell " << i;
      EXPECT_EQ(harness::cellAt(70 + i, 5).back, TCODColor::black) << "cell " << i;
    }
  }
  player().hunger = 250;
  frame();
  EXPECT_EQ(harness::rowText(5, 70, 79), std::string(10, ' '));
}

// Two creatures in view and a bear behind the wall, out of sight.
const std::vector<std::string> kBatAndSnake = {
    "############", "#.........#.", "#.@.b.s...#B", "#.........#.", "############",
};

TEST_F(SidePanelTest, ListsTheCreaturesInViewWithTheirHealthAndState) {
  play(kBatAndSnake);
  frame();
  EXPECT_EQ(harness::cellAt(70, 8).back, TCODColor::green);  // full health
  EXPECT_EQ(trimmed(harness::rowText(8, 71, 79)), "bat");
  EXPECT_EQ(trimmed(harness::rowText(9, 71, 79)), "snake");
  EXPECT_EQ(harness::cellAt(70, 9).back, TCODColor::green);
  EXPECT_EQ(trimmed(harness::rowText(10, 70, 79)), "");  // neither the player nor the bear

  NPC& bat = *harness::creaturesOf(*game)[0];
  ASSERT_EQ(bat.name, "bat");
  bat.angry = true;
  bat.fleeing = true;  // anger wins
  bat.hp = 2;          // 2 of 5: 40% of the way from red to green
  frame();
  EXPECT_EQ(harness::cellAt(70, 8).back, TCODColor(153, 102, 0));
  EXPECT_EQ(harness::rowText(9, 72, 76), "angry");
  for (int x = 72; x <= 76; ++x)
    EXPECT_EQ(harness::cellAt(x, 9).fore, TCODColor::red);
  EXPECT_EQ(trimmed(harness::rowText(10, 71, 79)), "snake");

  bat.angry = false;
  bat.hp = 0;
  frame();
  EXPECT_EQ(harness::cellAt(70, 8).back, TCODColor::red);
  EXPECT_EQ(harness::rowText(9, 72, 78), "fleeing");
  for (int x = 72; x <= 78; ++x)
    EXPECT_EQ(harness::cellAt(x, 9).fore, TCODColor::yellow);
  EXPECT_EQ(trimmed(harness::rowText(10, 71, 79)), "snake");

  bat.fleeing = false;
  bat.hp = -4;  // dealt more than it had: the swatch stays red
  frame();
  EXPECT_EQ(harness::cellAt(70, 8).back, TCODColor::red);
  EXPECT_EQ(trimmed(harness::rowText(9, 71, 79)), "snake");
}

TEST_F(SidePanelTest, EachListedCreatureCostsOneDrawPerFrame) {
  const struct {
    std::vector<std::string> rows;
    std::size_t listed;
  } cases[] = {
      {{"#######", "#.@.*.#", "#######"}, 0},  // a stone in view is not listed
      {{"#######", "#.@.b.#", "#######"}, 1},
      {kBatAndSnake, 2},
      {{"#########", "#.@.bsk.#", "#########"}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.listed) + " creatures");
    play(c.rows);
    game->map->draw();
    EXPECT_EQ(harness::countRandDraws([&] { game->drawInterface(); }), c.listed);
    EXPECT_EQ(harness::countRandDraws([&] { game->draw(); }), c.listed);
  }
}

TEST_F(SidePanelTest, TheKittenPurrsWhenItsDrawIsAMultipleOfSix) {
  play({"#######", "#.@.k.#", "#######"});
  int purrs = 0;
  int silences = 0;
  for (unsigned seed = 1; seed <= 60; ++seed) {
    std::srand(seed);
    const bool purr = std::rand() % 6 == 0;
    const std::size_t logged = harness::messages(*game).size();
    std::srand(seed);
    frame();
    const bool purred = harness::messages(*game).size() != logged;
    ASSERT_EQ(purred, purr) << "seed " << seed;
    if (purr) {
      ++purrs;
      EXPECT_EQ(harness::lastMessage(*game), "The kitten purrs.");
      EXPECT_EQ(trimmed(harness::rowText(48, 0, 39)), "The kitten purrs.");  // in the same frame
    } else {
      ++silences;
    }
  }
  EXPECT_GT(purrs, 0);
  EXPECT_GT(silences, 0);
}

TEST_F(SidePanelTest, OnlyTheKittensOwnDrawMakesItPurr) {
  play({"#######", "#.@bk.#", "#######"});  // the bat is listed first
  unsigned quietKitten = 0;
  unsigned purringKitten = 0;
  for (unsigned seed = 1; quietKitten == 0 || purringKitten == 0; ++seed) {
    std::srand(seed);
    const bool batDraw = std::rand() % 6 == 0;
    const bool kittenDraw = std::rand() % 6 == 0;
    if (batDraw && !kittenDraw && quietKitten == 0) quietKitten = seed;
    if (!batDraw && kittenDraw && purringKitten == 0) purringKitten = seed;
  }
  const std::size_t logged = harness::messages(*game).size();
  std::srand(quietKitten);
  frame();
  EXPECT_EQ(harness::messages(*game).size(), logged);
  std::srand(purringKitten);
  frame();
  EXPECT_EQ(harness::lastMessage(*game), "The kitten purrs.");
}

// ---- The ground under the player -------------------------------------------------------------

TEST_F(SidePanelTest, TheGroundLineNamesTheFloorUnderThePlayer) {
  playInAnEmptyRoom();
  Tile& ground = game->map->tileAt(player().x, player().y);
  const struct {
    int glyph;
    const char* text;
  } cases[] = {{15, "blood-smeared floor"},
               {34, "scattered pebbles"},
               {46, "smooth stone floor"},
               {247, "shallow pool of water"},
               {35, ""},
               {0, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.glyph);
    ground.glyph = c.glyph;
    frame();
    EXPECT_EQ(trimmed(harness::rowText(44, 42, 79)), c.text);
    EXPECT_EQ(harness::rowText(44, 42, 41 + static_cast<int>(std::string(c.text).size())), c.text);
    for (int y = 45; y <= 48; ++y)
      EXPECT_EQ(trimmed(harness::rowText(y, 42, 79)), "") << "row " << y;
  }
}

TEST_F(SidePanelTest, TheGroundLineListsTheItemsInTheOrderTheyArrived) {
  play({"#######", "#.@*..#", "#######"});
  press("lg<Home>dbb<Esc>");  // onto the stone, pick it up, drop it, then fresh bat meat
  frame();
  EXPECT_EQ(trimmed(harness::rowText(45, 42, 79)), "You see here: a small stone, bat meat");
  press("h");
  frame();
  EXPECT_EQ(trimmed(harness::rowText(45, 42, 79)), "");
}

TEST_F(SidePanelTest, TheItemListUnderThePlayerStopsAtRowFortyEight) {
  playInAnEmptyRoom();
  std::vector<std::unique_ptr<Item>> stones;
  for (int i = 0; i < 20; ++i)
    stones.push_back(std::make_unique<Item>(&game->messageLog, game->map.get(), player().x,
                                            player().y, SmallStone));
  Tile& ground = game->map->tileAt(player().x, player().y);
  for (auto& stone : stones)
    ground.entities.push_back(stone.get());
  frame();
  ground.entities.clear();
  for (int y = 45; y <= 48; ++y)
    EXPECT_NE(trimmed(harness::rowText(y, 42, 79)), "") << "row " << y;
  EXPECT_EQ(trimmed(harness::rowText(49, 42, 79)), "");
}

// ---- The inventory, drop and note windows ----------------------------------------------------

using MenuWindowTest = InterfaceTest;

void expectFrame(const TCODColor& colour) {
  const harness::Cell corner{206, colour, TCODColor::black};
  EXPECT_EQ(windowCell(0, 0), corner);
  EXPECT_EQ(windowCell(0, 29), corner);
  EXPECT_EQ(windowCell(39, 0), corner);
  EXPECT_EQ(windowCell(39, 29), corner);
  for (int x : {1, 2, 3, 20, 38}) {
    EXPECT_EQ(windowCell(x, 0), (harness::Cell{205, colour, TCODColor::black})) << "top " << x;
  }
  for (int x : {1, 20, 38}) {
    EXPECT_EQ(windowCell(x, 29), (harness::Cell{205, colour, TCODColor::black})) << "bottom " << x;
  }
  for (int y : {1, 15, 28}) {
    EXPECT_EQ(windowCell(0, y), (harness::Cell{186, colour, TCODColor::black})) << "left " << y;
    EXPECT_EQ(windowCell(39, y), (harness::Cell{186, colour, TCODColor::black})) << "right " << y;
  }
}

TEST_F(MenuWindowTest, InventoryAndDropWindowsHaveTheirFramesAndTitles) {
  playInAnEmptyRoom();
  press("i");
  EXPECT_EQ(game->turnCount, 0);  // opening costs no turn
  EXPECT_EQ(game->mode, Inventory);
  frame();
  expectFrame(TCODColor::lightBlue);
  EXPECT_EQ(windowText(0, 4, 12), "INVENTORY");
  EXPECT_EQ(windowText(29, 4, 11), "(Z) EXIT");
  EXPECT_EQ(windowCell(20, 20), (harness::Cell{' ', TCODColor::white, TCODColor::black}));

  press("<Esc>d");
  EXPECT_EQ(game->mode, Drop);
  frame();
  expectFrame(TCODColor::lightBlue);
  EXPECT_EQ(windowText(0, 4, 13), "DROP ITEMS");
  EXPECT_EQ(windowText(29, 4, 11), "(Z) EXIT");
}

TEST_F(MenuWindowTest, EmptyWindowsShowOnlyTheFrame) {
  playInAnEmptyRoom();
  press("iaz");  // eat the only item, close
  ASSERT_TRUE(player().inventory.empty());
  for (const char* open : {"i", "d"}) {
    press(open);
    frame();
    for (int y = 1; y <= 28; ++y)
      EXPECT_EQ(windowText(y, 1, 38), std::string(38, ' ')) << y;
    const int turns = game->turnCount;
    press("a");
    EXPECT_EQ(game->turnCount, turns + 1);
    press("z");
  }
}

TEST_F(MenuWindowTest, EachEntryOffersWhatItsLetterDoes) {
  playInAnEmptyRoom();
  carry(BatCorpse);
  carry(BatPelt);
  carry(BatPeltHat);
  carry(BearPeltHelmet);
  carry(SharpenedStone);
  carry(BloodyNote);
  press("id");  // wear the hat: the helmet's slot is taken
  frame();
  const struct {
    const char* label;
    TCODColor colour;
  } rows[] = {
      {")eat", TCODColor::lightRed},      {")butcher", TCODColor::lightRed},
      {")craft", TCODColor::lightViolet}, {")unequip", TCODColor::desaturatedOrange},
      {nullptr, TCODColor::black},        {")equip", TCODColor::orange},
      {")read", TCODColor::white},
  };
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    const int row = 2 + i;
    const std::string name = player().inventory[static_cast<std::size_t>(i)]->name;
    EXPECT_EQ(trimmed(windowText(row, 15, 38)), name);
    EXPECT_EQ(windowText(row, 15, 14 + static_cast<int>(name.size())), name);
    if (rows[i].label == nullptr) {
      EXPECT_EQ(windowText(row, 1, 14), std::string(14, ' '));
      continue;
    }
    const std::string label = rows[i].label;
    EXPECT_EQ(windowCell(2, row), (harness::Cell{'a' + i, rows[i].colour, TCODColor::black}));
    EXPECT_EQ(windowText(row, 3, 2 + static_cast<int>(label.size())), label);
    EXPECT_EQ(trimmed(windowText(row, 3, 14)), label);
  }
}

TEST_F(MenuWindowTest, TheDropWindowLetsEverythingButWornGearGo) {
  playInAnEmptyRoom();
  carry(BatPeltHat);
  carry(SmallStone);
  press("ib<Esc>d");
  frame();
  for (int i : {0, 2}) {
    EXPECT_EQ(windowCell(2, 2 + i), (harness::Cell{'a' + i, TCODColor::red, TCODColor::black}));
    EXPECT_EQ(trimmed(windowText(2 + i, 3, 14)), ")drop");
  }
  EXPECT_EQ(windowText(3, 1, 14), std::string(14, ' '));  // the worn hat
  EXPECT_EQ(trimmed(windowText(3, 15, 38)), player().inventory[1]->name);
  EXPECT_EQ(trimmed(windowText(4, 15, 38)), "a small stone");
}

TEST_F(MenuWindowTest, DroppingMovesTheLaterEntriesUpALetter) {
  playInAnEmptyRoom();
  carry(SmallStone);
  carry(SnakeMeat);
  press("d");
  frame();  // the list of three is drawn first: nothing of its last row may stay
  press("b");
  frame();
  EXPECT_EQ(windowCell(2, 3).ch, 'b');
  EXPECT_EQ(harness::cellAt(22, 8).ch, 'b');
  EXPECT_EQ(trimmed(windowText(3, 15, 38)), "snake meat");
  EXPECT_EQ(windowText(4, 1, 38), std::string(38, ' '));
}

TEST_F(MenuWindowTest, EveryKeyInAWindowPassesATurn) {
  playInAnEmptyRoom();
  const int x = player().x;
  const int y = player().y;
  press("d");
  const struct {
    TCOD_key_t key;
    GameMode after;
  } keys[] = {
      {harness::plainKey(TCODK_UP), Drop},   {harness::plainKey(TCODK_LEFT), Drop},
      {harness::characterKey('q'), Drop},    {harness::shiftedKey('a'), Drop},
      {harness::characterKey('1'), Drop},    {harness::plainKey(TCODK_F1), Drop},
      {harness::plainKey(TCODK_HOME), Drop}, {harness::characterKey('z'), Normal},
  };
  for (const auto& k : keys) {
    const int turns = game->turnCount;
    press(k.key);
    EXPECT_EQ(game->turnCount, turns + 1);
    EXPECT_EQ(game->mode, k.after);
  }
  EXPECT_EQ(player().x, x);
  EXPECT_EQ(player().y, y);
  EXPECT_EQ(player().inventory.size(), 1u);  // the Home key gave nothing in the window

  press("i");
  for (const char* script : {"<S-a>", "q", "<Down>", "."}) {
    const int turns = game->turnCount;
    press(script);
    EXPECT_EQ(game->turnCount, turns + 1) << script;
    EXPECT_EQ(game->mode, Inventory);
  }
  EXPECT_EQ(player().inventory.size(), 1u);  // upper case chose nothing
  EXPECT_EQ(player().hunger, 62);            // twelve turns, nothing eaten
  const int turns = game->turnCount;
  press("<Esc>");
  EXPECT_EQ(game->mode, Normal);
  EXPECT_EQ(game->turnCount, turns + 1);
}

TEST_F(MenuWindowTest, TheTwentySixthLetterClosesTheWindow) {
  playInAnEmptyRoom();
  for (int i = 0; i < 25; ++i)
    press("<Home>");
  ASSERT_EQ(player().inventory.size(), 26u);
  press("i");
  frame();
  EXPECT_EQ(windowCell(2, 27).ch, 'z');
  EXPECT_EQ(trimmed(windowText(27, 3, 14)), ")eat");
  press("z");
  EXPECT_EQ(game->mode, Normal);
  EXPECT_EQ(player().inventory.size(), 26u);
  EXPECT_EQ(game->turnCount, 1);
}

TEST_F(MenuWindowTest, ALongInventoryStaysInsideTheWindowYetEveryEntryCanBeChosen) {
  playInAnEmptyRoom();
  for (int i = 0; i < 27; ++i)
    press("<Home>");
  carry(SnakeMeat);  // the 29th entry
  press("<Home>");
  ASSERT_EQ(player().inventory.size(), 30u);
  EXPECT_EQ(game->turnCount, 0);

  frame();
  frame();
  const std::string level = harness::screenText();
  press("i");
  frame();
  const std::string withWindow = harness::screenText();
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 80; ++x) {
      if (x >= 20 && x <= 59 && y >= 5 && y <= 34) continue;
      ASSERT_EQ(withWindow[static_cast<std::size_t>(y * 81 + x)],
                level[static_cast<std::size_t>(y * 81 + x)])
          << "cell " << x << "," << y;
    }
  }
  // The 28th entry lies on the bottom border, over part of "(Z) EXIT".
  EXPECT_EQ(windowText(29, 2, 11), "|)eat EXIT");
  EXPECT_EQ(windowText(29, 15, 23), "bat meat\xCD");  // the border goes on after the name
  EXPECT_EQ(windowCell(2, 28).ch, '{');

  press("}");  // the 29th entry, though it is not shown
  EXPECT_EQ(harness::lastMessage(*game), "You eat the raw snake meat. Not bad.");
  ASSERT_EQ(player().inventory.size(), 29u);
  for (const Item* item : player().inventory)
    EXPECT_NE(item->kind, SnakeMeat);
  press("~");  // the 30th, now the 29th
  EXPECT_EQ(player().inventory.size(), 29u);
  press("|");
  EXPECT_EQ(player().inventory.size(), 28u);
}

// ---- The note --------------------------------------------------------------------------------

TEST(NoteTextTest, HasTheLayoutOfAFarewellLetter) {
  const std::string note = noteText();
  EXPECT_EQ(note.size(), 548u);
  EXPECT_EQ(std::count(note.begin(), note.end(), '\n'), 9);
  EXPECT_EQ(note.find('%'), std::string::npos);

  std::vector<std::string> blocks;
  for (std::size_t start = 0;;) {
    const std::size_t end = note.find("\n\n", start);
    blocks.push_back(note.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_EQ(blocks[0], "Dear Tamsine,");
  const std::size_t lengths[] = {196, 209, 111};
  for (int i = 0; i < 3; ++i) {
    const std::string& paragraph = blocks[static_cast<std::size_t>(i + 1)];
    SCOPED_TRACE("paragraph " + std::to_string(i + 1));
    EXPECT_EQ(paragraph.size(), lengths[i]);
    EXPECT_EQ(paragraph[0], ' ');
    EXPECT_NE(paragraph[1], ' ');
    EXPECT_EQ(paragraph.find('\n'), std::string::npos);
  }
  EXPECT_EQ(blocks[2].back(), ' ');
  EXPECT_NE(blocks[1].back(), ' ');
  EXPECT_NE(blocks[3].back(), ' ');
  const std::string& signature = blocks[4];
  EXPECT_EQ(signature.size(), 11u);
  const std::size_t lineBreak = signature.find('\n');
  ASSERT_NE(lineBreak, std::string::npos);
  EXPECT_EQ(signature[lineBreak - 1], ',');
  EXPECT_EQ(signature.find('\n', lineBreak + 1), std::string::npos);
  EXPECT_EQ(wordsOf(signature).size(), 2u);
}

TEST_F(MenuWindowTest, TheNoteWindowShowsTheWholeLetter) {
  playInAnEmptyRoom();
  carry(BloodyNote);
  press("ib");
  EXPECT_EQ(game->mode, Note);
  EXPECT_EQ(game->turnCount, 1);
  EXPECT_EQ(player().inventory.size(), 2u);  // the note stays
  frame();
  expectFrame(TCODColor::red);
  EXPECT_EQ(windowText(29, 4, 12), "EXIT(ESC)");
  EXPECT_EQ(windowText(2, 2, 14), "Dear Tamsine,");

  std::string shown;
  int lastRow = 0;
  for (int y = 1; y <= 28; ++y) {
    EXPECT_EQ(windowText(y, 1, 1), " ");  // nothing runs into the left margin
    EXPECT_EQ(windowText(y, 38, 38), " ");
    const std::string line = windowText(y, 2, 37);
    if (!trimmed(line).empty()) lastRow = y;
    shown += line + " ";
  }
  EXPECT_EQ(wordsOf(shown), wordsOf(noteText()));
  EXPECT_LE(lastRow, 27);
  EXPECT_GE(lastRow, 20);

  const int turns = game->turnCount;
  press("x");
  EXPECT_EQ(game->mode, Note);
  press("z");  // back to the level, the note still carried
  EXPECT_EQ(game->mode, Normal);
  EXPECT_EQ(game->turnCount, turns + 2);
  EXPECT_EQ(player().inventory.size(), 2u);
  press("db");
  EXPECT_EQ(harness::lastMessage(*game), "You can't drop that.");
}

// ---- From the last memory to the end screen --------------------------------------------------

// The screens a player sees along the story's end, for comparing two runs.
struct StoryScreens {
  std::string inventory;
  std::string note;
  std::string end;
};

class NoteEndingTest : public InterfaceTest {
 protected:
  static constexpr std::uint32_t kPartition = 3u;
  static constexpr unsigned kSeed = 21u;

  // A real cave from a fixed partition and seed, with enough kills counted for every milestone.
  // Waits until the note arrives, reads it, closes it with Escape and fades out.
  StoryScreens playToTheEnd() {
    StoryScreens screens;
    TCODConsole::root->clear();
    harness::fixPartition(kPartition);
    std::srand(kSeed);
    game = std::make_unique<Game>();
    game->killCount = 31;
    frame();
    for (int turn = 0; turn < 40 && game->storyStage < 6; ++turn) {
      press(".");
      frame();
    }
    EXPECT_EQ(game->storyStage, 6);
    EXPECT_EQ(game->turnCount, 35);  // memories at turns 4 and 31, then one per turn
    EXPECT_FALSE(player().dead);
    const std::vector<std::string> log = harness::messages(*game);
    EXPECT_NE(std::find(log.begin(), log.end(), kNoteMilestone), log.end());

    const Item& note = *player().inventory.back();
    EXPECT_EQ(note.kind, BloodyNote);
    EXPECT_EQ(note.name, "a crumpled bloody note");
    const auto entry = game->registry.find(note.id);
    EXPECT_TRUE(entry == game->registry.end() || entry->second != &note);  // not registered

    press("i");
    frame();
    screens.inventory = harness::screenText();
    const int row = 2 + static_cast<int>(player().inventory.size()) - 1;
    const char letter = static_cast<char>('a' + row - 2);
    EXPECT_EQ(windowCell(2, row), (harness::Cell{letter, TCODColor::white, TCODColor::black}));
    EXPECT_EQ(trimmed(windowText(row, 3, 14)), ")read");

    press(std::string(1, letter));
    EXPECT_EQ(game->mode, Note);
    frame();
    screens.note = harness::screenText();
    expectFrame(TCODColor::red);
    EXPECT_EQ(windowText(2, 2, 14), "Dear Tamsine,");

    const int turns = game->turnCount;
    press("<Esc>");
    EXPECT_EQ(game->mode, FadeOut);
    EXPECT_EQ(game->turnCount, turns + 1);

    display::setPresenting(false);  // 256 presented frames would only slow the test down
    frame();
    display::setPresenting(true);
    EXPECT_EQ(game->mode, EndScreen);
    screens.end = harness::screenText();
    return screens;
  }
};

void expectTheEndScreen() {
  for (int y = 0; y < 50; ++y) {
    const std::string row = harness::rowText(y, 0, 79);
    if (y == 24 || y == 26) {
      const auto first = static_cast<int>(row.find_first_not_of(' '));
      const auto last = static_cast<int>(row.find_last_not_of(' '));
      ASSERT_GE(first, 0) << "row " << y << " is blank";
      EXPECT_LE(std::abs(first + last + 1 - 80), 1) << "row " << y << " is not centred";
    } else {
      EXPECT_EQ(row, std::string(80, ' ')) << "row " << y;
    }
  }
  EXPECT_EQ(trimmed(harness::rowText(26, 0, 79)), "Thanks for Playing");
  EXPECT_EQ(trimmed(harness::rowText(24, 0, 79)), creditLine());
}

TEST_F(NoteEndingTest, TheNoteLeadsThroughTheFadeToTheEndScreen) {
  playToTheEnd();
  ASSERT_NO_FATAL_FAILURE(expectTheEndScreen());
  EXPECT_EQ(TCODConsole::getFade(), 255);

  const int turns = game->turnCount;
  press("x<Down>.");
  frame();
  ASSERT_NO_FATAL_FAILURE(expectTheEndScreen());
  EXPECT_EQ(game->turnCount, turns);
  EXPECT_EQ(game->mode, EndScreen);

  harness::KeyScript escape("<Esc>");
  EXPECT_FALSE(game->update());
}

TEST_F(NoteEndingTest, TheSamePartitionSeedAndKeysGiveTheSameScreens) {
  const StoryScreens first = playToTheEnd();
  const StoryScreens second = playToTheEnd();
  EXPECT_EQ(first.inventory, second.inventory);
  EXPECT_EQ(first.note, second.note);
  EXPECT_EQ(first.end, second.end);
}

TEST_F(MenuWindowTest, ClosingTheNoteWithEscapeFadesOutFrameByFrame) {
  playInAnEmptyRoom();
  carry(BloodyNote);
  press("ib<Esc>");
  EXPECT_EQ(game->mode, FadeOut);
  EXPECT_EQ(game->turnCount, 2);
  frame();  // every step of the fade is presented here
  EXPECT_EQ(game->mode, EndScreen);
  EXPECT_EQ(TCODConsole::getFade(), 255);
  ASSERT_NO_FATAL_FAILURE(expectTheEndScreen());
}

class NoteEndingDeathTest : public NoteEndingTest {
 protected:
  void SetUp() override {
    NoteEndingTest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

// The shell opens its own window, so this runs in a child process.
TEST_F(NoteEndingDeathTest, EscapeOnTheEndScreenReturnsToTheTitle) {
  EXPECT_EXIT(
      {
        App app;
        if (!app.started) {
          std::fprintf(stderr, "the shell did not start\n");
          std::_Exit(1);
        }
        playToTheEnd();
        app.game = std::move(game);
        app.state = Playing;
        harness::KeyScript keys("x<Esc><Esc>");  // a key kept the end screen, Escape, then quit
        app.run();
        const bool atTitle =
            app.state == Title && app.game == nullptr && !app.running && keys.remaining() == 0 &&
            !keys.ranOut() &&
            trimmed(harness::rowText(25, 0, 79)) == "Press any key to start a new game.";
        std::fprintf(stderr, atTitle ? "back at the title\n" : "not at the title:\n%s\n",
                     harness::screenText().c_str());
        std::_Exit(atTitle && !::testing::Test::HasFailure() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "back at the title");
}

}  // namespace

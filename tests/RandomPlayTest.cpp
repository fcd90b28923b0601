// Random keys, game after game in one process, headless: whatever is pressed, the game neither
// crashes nor breaks its own bookkeeping. Run under the sanitizers, any stray access shows up.

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "Display.hpp"
#include "Game.hpp"
#include "Invariants.hpp"
#include "Keys.hpp"
#include "Player.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"

namespace {

// The keys the game knows, in every mode.
constexpr const char* kGameKeys[] = {
    "<Left>", "<Right>", "<Up>", "<Down>", "h", "j", "k", "l", "y", "u", "b",      "n",    ".",
    "g",      "i",       "d",    "z",      "a", "b", "c", "d", "e", "f", "<Home>", "<Esc>"};

// A game key most of the time, otherwise any key code at all with any character.
TCOD_key_t randomKey(std::mt19937& random) {
  if (random() % 10 < 7) {
    const std::size_t pick = random() % std::size(kGameKeys);
    return harness::parseKeyScript(kGameKeys[pick]).front();
  }
  TCOD_key_t key{};
  key.vk = static_cast<TCOD_keycode_t>(random() % (TCODK_TEXT + 1));
  key.c = static_cast<char>(random() % 256);
  key.pressed = true;
  key.shift = random() % 4 == 0;
  return key;
}

// Presenting is skipped while the fuzzing runs (the fade-out alone flushes 256 times).
class NotPresenting {
 public:
  NotPresenting() { display::setPresenting(false); }
  ~NotPresenting() { display::setPresenting(true); }
  NotPresenting(const NotPresenting&) = delete;
  NotPresenting& operator=(const NotPresenting&) = delete;
};

TEST(RandomPlayTest, TwentyGamesOfThreeHundredRandomKeys) {
  NotPresenting quiet;
  std::mt19937 random(20240607u);
  int turns = 0;
  int deaths = 0;
  int notes = 0;
  for (unsigned g = 0; g < 20; ++g) {
    SCOPED_TRACE(testing::Message() << "game " << g);
    harness::fixPartition(1000u + g);
    std::srand(g);
    auto game = std::make_unique<Game>();
    if (g % 2 == 1) game->killCount = 31;  // the story runs through to the note
    harness::KeyScript keys("");
    bool running = true;
    for (int k = 0; k < 300 && running; ++k) {
      TCOD_key_t key = randomKey(random);
      // Escape ends the run in normal play, after death and on the end screen; keep it for
      // the end. In the menus and on the note it stays in play.
      while (key.vk == TCODK_ESCAPE &&
             (game->mode == Normal || game->mode == EndScreen || game->player->dead)) {
        key = randomKey(random);
      }
      keys.then(key);
      game->draw();
      running = game->update();
      ASSERT_TRUE(running) << "only Escape ends a run";
      // The bookkeeping every turn must keep (the play driver's checks).
      ASSERT_EQ(harness::checkInvariants(*game), "") << "after key " << k;
      ASSERT_LE(game->player->hp, game->player->maxHp);
    }
    turns += game->turnCount;
    deaths += game->player->dead ? 1 : 0;
    notes += game->storyStage == 6 ? 1 : 0;

    // Escape out of whatever is open: a menu, the note (fade-out and end screen), or death.
    for (int i = 0; i < 4 && running; ++i) {
      keys.then("<Esc>");
      game->draw();
      running = game->update();
    }
    EXPECT_FALSE(running);
    EXPECT_EQ(keys.remaining(), 0u);
    EXPECT_FALSE(keys.ranOut());
  }
  EXPECT_FALSE(TCODConsole::isWindowClosed());
  // The keys did make the games move on.
  EXPECT_GT(turns, 20 * 50);
  EXPECT_GT(notes, 0);
  RecordProperty("turns", turns);
  RecordProperty("deaths", deaths);
}

// The same seeds and the same keys give the same game, screen and all.
TEST(RandomPlayTest, AGameDependsOnlyOnItsSeedsAndKeys) {
  NotPresenting quiet;
  std::string screens[2];
  std::string logs[2];
  int turnCounts[2] = {0, 0};
  for (int round = 0; round < 2; ++round) {
    std::mt19937 random(77u);
    TCODConsole::root->clear();  // the level fades unexplored cells from what was there
    harness::fixPartition(31u);
    std::srand(3u);
    auto game = std::make_unique<Game>();
    harness::KeyScript keys("");
    for (int k = 0; k < 300; ++k) {
      TCOD_key_t key = randomKey(random);
      if (key.vk == TCODK_ESCAPE) continue;
      keys.then(key);
      game->draw();
      ASSERT_TRUE(game->update());
    }
    game->draw();
    screens[round] = harness::screenText();
    for (const std::string& line : harness::messages(*game))
      logs[round] += line + '\n';
    turnCounts[round] = game->turnCount;
  }
  EXPECT_GT(turnCounts[0], 0);
  EXPECT_EQ(turnCounts[0], turnCounts[1]);
  EXPECT_EQ(logs[0], logs[1]);
  EXPECT_EQ(screens[0], screens[1]);
}

}  // namespace

// The shell: the title screen, and games started and ended through App::run, driven by keys.

#include "App.hpp"

#include <SDL.h>
#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "Entity.hpp"
#include "Game.hpp"
#include "Keyboard.hpp"
#include "Keys.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"

namespace {

const std::string kTitle = "Press any key to start a new game.";

// The title text alone on the screen, centred on column 40 of row 25.
bool titleShown() {
  const int start = 40 - static_cast<int>(kTitle.size()) / 2;
  for (int y = 0; y < 50; ++y) {
    std::string expected(80, ' ');
    if (y == 25) expected.replace(static_cast<std::size_t>(start), kTitle.size(), kTitle);
    if (harness::rowText(y, 0, 79) != expected) return false;
  }
  return true;
}

// Every tile's kind and glyph, as text.
std::string caveOf(const Map& map) {
  std::string cave;
  for (const auto& row : map.tiles) {
    for (const Tile& tile : row)
      cave += std::to_string(tile.kind) + std::to_string(tile.glyph);
  }
  return cave;
}

// The ids one game uses: the player, its piece of meat and every creature and stone the cave
// is populated with (38 in all, as the population is pinned in NPCTest).
unsigned idsPerGame() {
  unsigned ids = 2;
  for (const PopulationBatch& batch : population())
    ids += static_cast<unsigned>(batch.count);
  return ids;
}

// Hands the game scripted keys and, before each, lets the test look at the App. Should the
// script run out, the App is told to stop, so that a fault cannot hang the test.
class WatchedKeys {
 public:
  WatchedKeys(App& app, std::string_view script, std::function<void(std::size_t)> watch)
      : app(app), keys(harness::parseKeyScript(script)), watch(std::move(watch)) {
    keyboard::setKeySource([this] { return next(); });
  }
  ~WatchedKeys() { keyboard::setKeySource(nullptr); }
  WatchedKeys(const WatchedKeys&) = delete;
  WatchedKeys& operator=(const WatchedKeys&) = delete;

  bool ranOut = false;

 private:
  TCOD_key_t next() {
    if (handedOut == keys.size()) {
      ranOut = true;
      app.running = false;
      return harness::plainKey(TCODK_NONE);
    }
    watch(handedOut);
    return keys[handedOut++];
  }

  App& app;
  std::vector<TCOD_key_t> keys;
  std::function<void(std::size_t)> watch;
  std::size_t handedOut = 0;
};

// What a child process found wrong, one line each; an empty list is a pass.
class Findings {
 public:
  void expect(bool ok, const std::string& what) {
    if (!ok) problems.push_back(what);
  }
  // Reports and ends the child: exit code 0 and "all as expected" when nothing was found.
  [[noreturn]] void finish() const {
    for (const std::string& problem : problems)
      std::fprintf(stderr, "problem: %s\n", problem.c_str());
    if (problems.empty()) std::fprintf(stderr, "all as expected\n");
    std::exit(problems.empty() ? 0 : 1);
  }

 private:
  std::vector<std::string> problems;
};

// An App opens the window itself, and a process of the game only ever makes one, so every
// test of the shell runs in a child process of its own (re-executed, so it starts from
// scratch: no entity made yet, the window open once by the test main).
class AppDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

void escapeOnTheFirstTitleScreen() {
  Findings check;
  std::srand(0);
  const int firstDraw = std::rand();
  harness::KeyScript keys("<Esc>");
  App app;
  check.expect(app.started && app.state == Title && app.game == nullptr, "a fresh shell");
  app.run();
  check.expect(!app.running, "running cleared");
  check.expect(app.game == nullptr, "no game afterwards");
  check.expect(nextEntityId == 0, "no entity, so no Game, was ever made");
  check.expect(std::rand() == firstDraw, "rand() seeded with 0 and untouched by the title");
  check.expect(keys.remaining() == 0 && !keys.ranOut(), "exactly the one key was read");
  check.expect(titleShown(), "the title screen:\n" + harness::screenText());
  check.finish();
}

TEST_F(AppDeathTest, EscapeOnTheFirstTitleScreenEndsWithoutAGame) {
  EXPECT_EXIT(escapeOnTheFirstTitleScreen(), ::testing::ExitedWithCode(0), "all as expected");
}

// Title, a game, Escape, the title again, a second game, Escape, and Escape on the title.
// Both games get the same partition, so only the continuing rand() sequence tells them apart.
void twoGamesInARow() {
  constexpr std::uint32_t kPartition = 77;
  Findings check;
  std::vector<std::string> caves;
  App app;
  WatchedKeys keys(app, "x.<Esc>x<Esc><Esc>", [&](std::size_t n) {
    const std::string wait = "key wait " + std::to_string(n) + ": ";
    switch (n) {
      case 0:  // the first title screen
      case 3:  // the title screen after the first game
      case 5:  // and after the second
        check.expect(app.state == Title && app.game == nullptr, wait + "no game on the title");
        check.expect(titleShown(), wait + "the title screen:\n" + harness::screenText());
        harness::fixPartition(kPartition);
        break;
      case 1:  // the first key of the first game: the title's key did not reach it
        check.expect(app.game != nullptr && app.game->turnCount == 0, wait + "a fresh game");
        if (app.game != nullptr) caves.push_back(caveOf(*app.game->map));
        break;
      case 2:  // the wait key passed one turn
        check.expect(app.game != nullptr && app.game->turnCount == 1, wait + "one turn passed");
        break;
      case 4:
        check.expect(app.game != nullptr && app.game->turnCount == 0, wait + "a fresh game");
        if (app.game != nullptr) caves.push_back(caveOf(*app.game->map));
        break;
      default:
        check.expect(false, wait + "one wait too many");
    }
  });
  app.run();

  check.expect(!keys.ranOut, "the run ended on the last Escape");
  check.expect(app.game == nullptr, "no game afterwards");
  check.expect(nextEntityId == 2 * idsPerGame(), "ids used: " + std::to_string(nextEntityId));
  check.expect(caves.size() == 2 && caves[0] != caves[1], "the second cave differs");

  // the first game drew its cave straight after the seeding: nothing before it drew
  std::srand(0);
  harness::fixPartition(kPartition);
  EntityRegistry registry;
  Map bare(&registry, 70, 44);
  bare.generate();
  check.expect(!caves.empty() && caveOf(bare) == caves[0], "the first cave comes from seed 0");
  check.finish();
}

TEST_F(AppDeathTest, ASecondGameContinuesTheRandomSequenceAndTheTitleKeyIsConsumed) {
  EXPECT_EXIT(twoGamesInARow(), ::testing::ExitedWithCode(0), "all as expected");
}

void closeTheWindowDuringAGame() {
  Findings check;
  harness::KeyScript keys("xhj");  // after the two moves the player closes the window
  App app;
  app.run();
  check.expect(nextEntityId == idsPerGame(), "one game was made");
  check.expect(TCODConsole::isWindowClosed() && keys.ranOut(), "the window was closed");
  check.expect(app.game == nullptr, "the game was destroyed when the run ended");
  check.finish();
}

TEST_F(AppDeathTest, ClosingTheWindowDuringAGameEndsTheRunAndDestroysTheGame) {
  EXPECT_EXIT(closeTheWindowDuringAGame(), ::testing::ExitedWithCode(0), "all as expected");
}

// The window's size in pixels after an App opened it `window`: the sheet's 12-pixel glyphs for
// a window that is shown, blank one-pixel cells for one nobody sees.
void openTheWindow(App::Window window, int width, int height) {
  Findings check;
  const App app(window);
  int shownWidth = 0;
  int shownHeight = 0;
  SDL_GetWindowSize(TCOD_sys_get_SDL_window(), &shownWidth, &shownHeight);
  check.expect(app.started, "the App started");
  check.expect(shownWidth == width && shownHeight == height,
               "a window of " + std::to_string(shownWidth) + " x " + std::to_string(shownHeight) +
                   " pixels, not " + std::to_string(width) + " x " + std::to_string(height));
  check.finish();
}

TEST_F(AppDeathTest, AnUnseenWindowHasOnePixelCellsAndAShownOneTheSheetsGlyphs) {
  EXPECT_EXIT(openTheWindow(App::Window::Shown, 80 * 12, 50 * 12), ::testing::ExitedWithCode(0),
              "all as expected");
  EXPECT_EXIT(openTheWindow(App::Window::Unseen, 80, 50), ::testing::ExitedWithCode(0),
              "all as expected");
}

}  // namespace

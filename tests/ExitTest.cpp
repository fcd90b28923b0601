// Closing the window ends the program promptly in every state, with no turn passed.
//
// A closed window stays closed for the rest of a process, so every case runs in a child
// process (EXPECT_EXIT). The child reaches a state with scripted keys, then closes the window
// the way SDL reports it (an SDL_QUIT event, which is also what SIGTERM becomes) and lets the
// game's real key wait take it. The child prints what it saw and exits with 0 only when all
// was well; under the sanitizer build, LeakSanitizer checks at that exit that nothing leaked.

#include <SDL.h>
#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "App.hpp"
#include "Display.hpp"
#include "Game.hpp"
#include "Item.hpp"
#include "Keyboard.hpp"
#include "Keys.hpp"
#include "Player.hpp"
#include "Scenario.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// The screens a player can leave the game from.
enum class State { Title, Normal, Inventory, Drop, Note, Dead, EndScreen };

const char* nameOf(State state) {
  switch (state) {
    case State::Title:
      return "title";
    case State::Normal:
      return "normal play";
    case State::Inventory:
      return "inventory";
    case State::Drop:
      return "drop";
    case State::Note:
      return "note";
    case State::Dead:
      return "after death";
    case State::EndScreen:
      return "end screen";
  }
  return "?";
}

constexpr int kStoryKills = 31;  // more than 30: the note comes once the turn milestones are past

TCOD_key_t press(char c) {
  return harness::characterKey(c);
}

// The next key that brings `game` (none: the title screen) closer to `target`, or nothing
// (vk TCODK_NONE) once the game shows it. Reaching the note counts the kills of the story
// straight into the game, so that waiting is enough.
TCOD_key_t keyTowards(State target, Game* game) {
  if (game == nullptr) {
    return target == State::Title ? harness::plainKey(TCODK_NONE) : harness::plainKey(TCODK_ENTER);
  }
  const Player& player = *game->player;
  switch (target) {
    case State::Title:
    case State::Normal:
      return harness::plainKey(TCODK_NONE);
    case State::Inventory:
      return game->mode == Inventory ? harness::plainKey(TCODK_NONE) : press('i');
    case State::Drop:
      return game->mode == Drop ? harness::plainKey(TCODK_NONE) : press('d');
    case State::Dead:
      return player.dead ? harness::plainKey(TCODK_NONE) : press('.');
    case State::Note:
    case State::EndScreen:
      break;
  }
  if (game->mode == EndScreen) return harness::plainKey(TCODK_NONE);
  if (game->mode == Note)
    return target == State::Note ? harness::plainKey(TCODK_NONE) : harness::plainKey(TCODK_ESCAPE);
  game->killCount = std::max(game->killCount, kStoryKills);
  if (game->storyStage < 6) return press('.');
  if (game->mode != Inventory) return press('i');
  for (std::size_t i = 0; i < player.inventory.size(); ++i) {
    if (player.inventory[i]->kind == BloodyNote) return press(static_cast<char>('a' + i));
  }
  return press('.');  // no note yet: never happens once the story stage is 6
}

// The close request, as SDL queues it when the window is closed or SIGTERM arrives.
void closeWindowNow() {
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
}

// In the child: the real App plays until `target` is shown, then the window is closed. Exits
// with 0 when App::run returned within a second of the close.
[[noreturn]] void closeAppIn(State target, std::uint32_t partition) {
  display::setPresenting(false);  // the fade to the end screen need not take its real time
  App app;
  if (!app.started) std::exit(10);
  harness::fixPartition(partition);
  Clock::time_point closedAt{};
  int keys = 0;
  keyboard::setKeySource([&]() -> TCOD_key_t {
    if (++keys > 2000) std::exit(11);  // the state was never reached
    if (app.game != nullptr && app.game->player->dead && target != State::Dead) std::exit(12);
    const TCOD_key_t key = keyTowards(target, app.game.get());
    if (key.vk != TCODK_NONE) return key;
    closedAt = Clock::now();
    closeWindowNow();
    return keyboard::nextKeypress();  // the real wait, taking the close request
  });
  app.run();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closedAt);
  keyboard::setKeySource(nullptr);
  std::fprintf(stderr, "%s: App::run ended %lld ms after the close, game %s\n", nameOf(target),
               static_cast<long long>(took.count()), app.game == nullptr ? "destroyed" : "kept");
  std::exit(took.count() < 1000 && app.game == nullptr && keys > 0 ? 0 : 1);
}

// In the child: a Game is played (draw, then update, as the App does) until `target` is shown;
// then the window is closed and one more update takes the close request from the real
// keyboard. Exits with 0 when that update returned true (the shell then stops) without
// passing a turn.
[[noreturn]] void closeGameIn(State target, std::uint32_t partition) {
  display::setPresenting(false);
  std::srand(0);
  harness::fixPartition(partition);
  {
    Game game;
    TCOD_key_t next = keyTowards(target, &game);
    for (int keys = 0; next.vk != TCODK_NONE; ++keys) {
      if (keys > 2000 || (game.player->dead && target != State::Dead)) std::exit(11);
      keyboard::setKeySource([next] { return next; });
      game.draw();
      game.update();
      next = keyTowards(target, &game);
    }
    keyboard::setKeySource(nullptr);
    game.draw();
    const int turn = game.turnCount;
    const int hunger = game.player->hunger;
    const GameMode mode = game.mode;
    const std::size_t messages = game.messageLog.entries().size();
    closeWindowNow();
    const bool goesOn = game.update();
    const bool unchanged = game.turnCount == turn && game.player->hunger == hunger &&
                           game.mode == mode && game.messageLog.entries().size() == messages;
    std::fprintf(stderr, "%s: update returned %d, %s (turn %d -> %d), window closed %d\n",
                 nameOf(target), goesOn ? 1 : 0, unchanged ? "no turn passed" : "A TURN PASSED",
                 turn, game.turnCount, TCODConsole::isWindowClosed() ? 1 : 0);
    if (!goesOn || !unchanged || !TCODConsole::isWindowClosed()) std::exit(1);
  }
  std::exit(0);
}

// Each child gives up (and so fails) if it is still running after this long: a key wait that
// missed the close would otherwise block the test until CTest's timeout.
constexpr unsigned kChildSeconds = 20;

std::string testName(const ::testing::TestParamInfo<State>& info) {
  return harness::caseName(nameOf(info.param));
}

class ExitTest : public ::testing::TestWithParam<State> {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    keyboard::setKeySource(nullptr);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
};

using AppExitTest = ExitTest;
using GameExitTest = ExitTest;

TEST_P(AppExitTest, ClosingTheWindowEndsTheAppWithinASecond) {
  const State state = GetParam();
  EXPECT_EXIT(
      {
        alarm(kChildSeconds);
        closeAppIn(state, 0);
      },
      ::testing::ExitedWithCode(0),
      std::string(nameOf(state)) + ": App::run ended [0-9]+ ms after the close, game destroyed");
}

TEST_P(GameExitTest, ClosingTheWindowPassesNoTurn) {
  const State state = GetParam();
  EXPECT_EXIT(
      {
        alarm(kChildSeconds);
        closeGameIn(state, 0);
      },
      ::testing::ExitedWithCode(0),
      std::string(nameOf(state)) + ": update returned 1, no turn passed .*, window closed 1");
}

INSTANTIATE_TEST_SUITE_P(EveryScreen, AppExitTest,
                         ::testing::Values(State::Title, State::Normal, State::Inventory,
                                           State::Drop, State::Note, State::Dead, State::EndScreen),
                         testName);

// On the title screen no game runs, so there is no turn to pass.
INSTANTIATE_TEST_SUITE_P(EveryGameScreen, GameExitTest,
                         ::testing::Values(State::Normal, State::Inventory, State::Drop,
                                           State::Note, State::Dead, State::EndScreen),
                         testName);

}  // namespace

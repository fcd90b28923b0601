// Plays whole games through the game's own loop (App::run: title screen, game, every frame
// drawn and flushed), headless, with scripted keys, and reports the process's resident size:
// the peak of the first game and the size after every game, so that growth over many games in
// one process shows.
//
//   vesperdeep-memory [--games N (100)] [--keys N per game (500)]
//
// Each game starts from its own fixed cave (partition and rand() seeded with the game's
// number) and gets a fixed pseudo-random mix of the game's keys: moves, waits, pick-ups, the
// inventory and drop screens with their letters. When its keys are used up, Escape is pressed
// until the title screen is back; after the last game, Escape on the title ends the program.

#include <libtcod.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "App.hpp"
#include "Keyboard.hpp"
#include "Keys.hpp"
#include "MidGame.hpp"
#include "Process.hpp"
#include "Tool.hpp"

namespace {

using namespace harness;

const char* const kUsage = R"(usage: vesperdeep-memory [options]
Plays whole games through the game's own loop, headless, with scripted keys, and prints the
process's resident size after the games: the peak of the first and the growth over all.

  --games N   how many games (default 100)
  --keys N    how many keys each game gets before it is left with Escape (default 500)

Exit status: 0 done, 1 no font sheet or fewer games played than asked, 64 bad arguments.
)";

// How often each key of the game's key table is pressed, by what it asks for; ending the game
// is left to the player below.
struct ActionWeight {
  Action action;
  int weight;
};
constexpr ActionWeight kActionMix[] = {
    // action, weight of each of its keys
    {Action::Move, 5},          {Action::Wait, 5},     {Action::PickUp, 8},
    {Action::OpenInventory, 4}, {Action::OpenDrop, 2}, {Action::GiveBatMeat, 1},
};

struct WeightedKey {
  int weight;
  std::string_view key;  // as a key script writes it
};

// The letters of the menus: the first entries, "z" that closes a menu, and one past the list.
constexpr std::array<WeightedKey, 7> kMenuMix = {{
    // weight, key
    {4, "a"},
    {3, "b"},
    {3, "c"},
    {2, "d"},
    {2, "e"},
    {4, "z"},
    {1, "x"},
}};

struct Sample {
  long residentKb;
  long peakKb;
};

// Stands in for the player at the keyboard, watching the shell to know when a game is over.
class ScriptedPlayer {
 public:
  ScriptedPlayer(const App& app, int games, int keysPerGame)
      : app(app), games(games), keysPerGame(keysPerGame) {
    for (const ActionWeight& entry : kActionMix) {
      for (const TCOD_key_t& key : actionKeys(entry.action))
        keyMix.push_back({entry.weight, key});
    }
    for (const WeightedKey& entry : kMenuMix)
      keyMix.push_back({entry.weight, parseKeyScript(entry.key).front()});
  }

  TCOD_key_t next() {
    if (app.state == Title) {
      if (started > 0) samples.push_back({bench::residentKb(), bench::peakResidentKb()});
      if (started == games) return plainKey(TCODK_ESCAPE);
      bench::fixRandomness(static_cast<std::uint32_t>(started));
      ++started;
      pressed = 0;
      return characterKey(' ');
    }
    if (pressed >= keysPerGame) return plainKey(TCODK_ESCAPE);
    ++pressed;
    return pick();
  }

  const std::vector<Sample>& results() const { return samples; }

 private:
  struct Choice {
    int weight;
    TCOD_key_t key;
  };

  TCOD_key_t pick() {
    int total = 0;
    for (const Choice& choice : keyMix)
      total += choice.weight;
    int roll = static_cast<int>(nextRandom() % static_cast<std::uint32_t>(total));
    for (const Choice& choice : keyMix) {
      if (roll < choice.weight) return choice.key;
      roll -= choice.weight;
    }
    return actionKey(Action::Wait);
  }

  // The script's own generator: the keys chosen draw nothing from the game's rand().
  std::uint32_t nextRandom() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }

  const App& app;
  int games;
  int keysPerGame;
  int started = 0;
  int pressed = 0;
  std::uint32_t state = 88172645u;
  std::vector<Choice> keyMix;
  std::vector<Sample> samples;
};

}  // namespace

int main(int argc, char** argv) {
  int games = 100;
  int keysPerGame = 500;
  CommandLine line("vesperdeep-memory", kUsage, argc, argv);
  while (line.next()) {
    if (line.is("--games")) {
      games = static_cast<int>(line.number(1, 1000000));
    } else if (line.is("--keys")) {
      keysPerGame = static_cast<int>(line.number(1, 100000000));
    } else {
      line.unknown();
    }
  }

  preferHeadlessDrivers();
  App app;
  if (!app.started) return kExitFailed;
  ScriptedPlayer player(app, games, keysPerGame);
  keyboard::setKeySource([&player] { return player.next(); });
  app.run();
  keyboard::setKeySource(nullptr);

  const std::vector<Sample>& samples = player.results();
  if (samples.size() != static_cast<std::size_t>(games)) {
    std::fprintf(stderr, "vesperdeep-memory: only %zu of %d games were played\n", samples.size(),
                 games);
    return kExitFailed;
  }
  std::printf("games: %d of %d keys each\n", games, keysPerGame);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::size_t game = i + 1;
    if (game == 1 || game % 10 == 0 || game == samples.size()) {
      std::printf("after game %3zu: resident %6ld kB, peak %6ld kB\n", game, samples[i].residentKb,
                  samples[i].peakKb);
    }
  }
  const Sample& first = samples.front();
  const Sample& last = samples.back();
  const Sample& settled = samples[std::min<std::size_t>(9, samples.size() - 1)];
  std::printf("one game: peak resident %ld kB\n", first.peakKb);
  std::printf("growth from game 1 to game %d: resident %+ld kB, peak %+ld kB\n", games,
              last.residentKb - first.residentKb, last.peakKb - first.peakKb);
  std::printf("growth from game %zu to game %d: resident %+ld kB\n",
              std::min<std::size_t>(10, samples.size()), games,
              last.residentKb - settled.residentKb);
  return kExitDone;
}

// Plays whole games through the game's own loop (App::run: title screen, game, every frame
// drawn and flushed), headless, with scripted keys, and reports the process's resident size:
// the peak of the first game and the size after every game, so that growth over many games in
// one process shows.
//
//   vesperdeep-memory [games (100)] [keys per game (500)]
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
#include <cstdlib>
#include <vector>

#include "App.hpp"
#include "Keyboard.hpp"
#include "MidGame.hpp"
#include "Process.hpp"

namespace {

struct WeightedKey {
  int weight;
  TCOD_keycode_t vk;
  char c;
};

constexpr std::array<WeightedKey, 24> kKeyMix = {{
    // weight, key, character
    {8, TCODK_CHAR, 'h'}, {8, TCODK_CHAR, 'j'}, {8, TCODK_CHAR, 'k'}, {8, TCODK_CHAR, 'l'},
    {5, TCODK_CHAR, 'y'}, {5, TCODK_CHAR, 'u'}, {5, TCODK_CHAR, 'b'}, {5, TCODK_CHAR, 'n'},
    {3, TCODK_LEFT, 0},   {3, TCODK_RIGHT, 0},  {3, TCODK_UP, 0},     {3, TCODK_DOWN, 0},
    {5, TCODK_CHAR, '.'}, {8, TCODK_CHAR, 'g'}, {4, TCODK_CHAR, 'i'}, {2, TCODK_CHAR, 'd'},
    {4, TCODK_CHAR, 'a'}, {3, TCODK_CHAR, 'b'}, {3, TCODK_CHAR, 'c'}, {2, TCODK_CHAR, 'd'},
    {2, TCODK_CHAR, 'e'}, {4, TCODK_CHAR, 'z'}, {1, TCODK_HOME, 0},   {1, TCODK_CHAR, 'x'},
}};

TCOD_key_t makeKey(TCOD_keycode_t vk, char c) {
  TCOD_key_t key{};
  key.vk = vk;
  key.c = c;
  key.pressed = true;
  return key;
}

struct Sample {
  long residentKb;
  long peakKb;
};

// Stands in for the player at the keyboard, watching the shell to know when a game is over.
class ScriptedPlayer {
 public:
  ScriptedPlayer(const App& app, int games, int keysPerGame)
      : app(app), games(games), keysPerGame(keysPerGame) {}

  TCOD_key_t next() {
    if (app.state == Title) {
      if (started > 0) samples.push_back({bench::residentKb(), bench::peakResidentKb()});
      if (started == games) return makeKey(TCODK_ESCAPE, 0);
      bench::fixRandomness(static_cast<std::uint32_t>(started));
      ++started;
      pressed = 0;
      return makeKey(TCODK_CHAR, ' ');
    }
    if (pressed >= keysPerGame) return makeKey(TCODK_ESCAPE, 0);
    ++pressed;
    return pick();
  }

  const std::vector<Sample>& results() const { return samples; }

 private:
  TCOD_key_t pick() {
    int total = 0;
    for (const WeightedKey& key : kKeyMix)
      total += key.weight;
    int roll = static_cast<int>(nextRandom() % static_cast<std::uint32_t>(total));
    for (const WeightedKey& key : kKeyMix) {
      if (roll < key.weight) return makeKey(key.vk, key.c);
      roll -= key.weight;
    }
    return makeKey(TCODK_CHAR, '.');
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
  std::vector<Sample> samples;
};

}  // namespace

int main(int argc, char** argv) {
  const int games = argc > 1 ? std::atoi(argv[1]) : 100;
  const int keysPerGame = argc > 2 ? std::atoi(argv[2]) : 500;
  if (games < 1 || keysPerGame < 1) {
    std::fprintf(stderr, "usage: vesperdeep-memory [games >= 1] [keys per game >= 1]\n");
    return 2;
  }

  bench::preferHeadlessVideo();
  App app;
  if (!app.started) return 1;
  ScriptedPlayer player(app, games, keysPerGame);
  keyboard::setKeySource([&player] { return player.next(); });
  app.run();
  keyboard::setKeySource(nullptr);

  const std::vector<Sample>& samples = player.results();
  if (samples.size() != static_cast<std::size_t>(games)) {
    std::fprintf(stderr, "vesperdeep-memory: only %zu of %d games were played\n", samples.size(),
                 games);
    return 1;
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
  return 0;
}

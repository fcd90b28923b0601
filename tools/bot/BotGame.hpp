#pragma once

// One whole game of Vesperdeep played headless by the Autoplayer, from the title screen to the
// end of the program, with the game's invariants checked after every key.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include <libtcod.hpp>

// How a game played by the bot ended.
enum class Ending : int {
  EndScreen = 0,  // the note was read and closed: the story's end
  Killed = 1,     // a creature killed the player
  Starved = 2,    // hunger reached 250
  Stuck = 3,      // no turn passed for too long, or the key budget ran out
  Invariant = 4,  // the game broke one of its rules (see harness/Invariants.hpp)
  NoWindow = 5,   // no font sheet: the window never opened
  BadKey = 6,     // the bot pressed a key a person playing fair would not (a bot fault)
};

struct GameReport {
  std::uint32_t partition = 0;
  Ending ending = Ending::Stuck;
  std::string detail;  // the killer's name, the broken rules, or why the bot got stuck
  int turns = 0;
  int kills = 0;
  long long keys = 0;  // keys the bot pressed, the title screen's included
};

struct PlayLimits {
  long long keyBudget = 40000;  // more keys than this in one game: stuck
  int keysWithoutTurn = 100;    // this many keys in a row that pass no turn: stuck
};

// Called once, as soon as the game's ending is known and before the game is torn down.
using ReportSink = std::function<void(const GameReport&)>;
// Called with every key the game is given, in order, the title screen's and the leaving
// Escapes included: the keys of the whole run, as a recording of it holds them.
using KeySink = std::function<void(const TCOD_key_t&)>;

// Plays one game on cave partition `partition`: builds the App (which seeds rand() with 0),
// fixes libtcod's partition, starts a game from the title screen and lets the Autoplayer press
// every key until the game ends, then leaves the game and the program with Escape. Presenting
// is switched off. Writes one line per key to `trace` when given, and hands every key to `keys`
// when given.
//
// When the game breaks an invariant, the game cannot be trusted to tear down: the report goes
// to `sink` and the process ends at once with exit status harness::kExitBroken; a game that
// Escape cannot end ends the process with harness::kExitNoEnd.
GameReport playGame(std::uint32_t partition, const PlayLimits& limits, const ReportSink& sink,
                    std::ostream* trace, const KeySink& keys = nullptr);

// "end screen", "killed by a snake", "starvation", "stuck (...)", "invariant", "no window".
std::string describeEnding(const GameReport& report);

// The report as one line of tab-separated fields, and back (nullopt for a malformed line).
std::string serialize(const GameReport& report);
std::optional<GameReport> deserialize(const std::string& line);

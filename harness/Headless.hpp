#pragma once

// Running the game without a player: pinning its randomness, reading the screen back as text,
// and the keys, key scripts and random keys that stand in for the player. Shared by the tests,
// the play driver, the bot and the benchmarks. (A game's state as text and its hash: State.hpp.)

#include <libtcod.hpp>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "Keyboard.hpp"

class Game;

namespace harness {

// Puts libtcod's default generator (which splits every new cave) into the state of a freshly
// built TCODRandom(seed). With rand() seeded by the App, a game then depends only on `seed`
// and the keys.
void fixPartition(std::uint32_t seed);

// The root console as 50 lines of 80 characters, each ending in '\n', with the code page 437
// glyphs turned into the Unicode characters they picture (205 is U+2550, 247 U+2248, 1 U+263A,
// 7 U+2022, 15 U+263C, code 0 a space), encoded as UTF-8.
std::string screenUtf8();

// The colours of the root console: one line per row, each cell "FFFFFF/BBBBBB" (foreground /
// background, hex RGB), cells separated by spaces and runs of equal cells written "N*" before
// the cell ("70*000000/000000").
std::string screenColours();

// ---- Keys ----------------------------------------------------------------------------------

// The key builders are the game's own (source/Keyboard.hpp): plainKey(vk), characterKey(c),
// shiftedKey(c).
using keyboard::characterKey;
using keyboard::plainKey;
using keyboard::shiftedKey;
// The letter key that moves the player one step in `direction` (a Direction), as the game's
// key table binds it: moveKey(West) types 'h'.
TCOD_key_t moveKey(int direction);

// The keys of a key script. Plain characters are the unshifted keys that type them ('h', '.',
// '1', ' '); other keys are named in angle brackets:
//   <Esc> <Up> <Down> <Left> <Right> <Home> <End> <PgUp> <PgDn> <Enter> <Tab> <Backspace>
//   <Del> <Ins> <F1>...<F12> <KP0>...<KP9> <None> (no key at all), <lt> (the '<' key),
//   <S-x> (x typed with Shift: <S-h> is 'H').
// Line breaks are ignored, and a line whose first character is '#' is a comment, so script
// files can be laid out and annotated. A malformed script throws std::invalid_argument.
std::vector<TCOD_key_t> parseKeyScript(std::string_view script);

// The key written the way a key script names it (inverse of parseKeyScript where there is a
// script form; other keys as "<vk N c M>").
std::string describeKey(const TCOD_key_t& key);

// Random key presses for fuzzing, from its own generator (never rand(), which the game owns).
// Mostly the game's own keys (moves, wait, pick-up, menus, menu letters, Home, Escape), but
// every key code, every character and every modifier flag turns up.
class KeyFuzzer {
 public:
  explicit KeyFuzzer(std::uint64_t seed);
  // The next random key press.
  TCOD_key_t next();
  // The next random key press on the inventory, drop or note screen: one time in ten a key
  // that closes it ('z' or Escape), otherwise as next().
  TCOD_key_t nextInMenu();
  // The next random key press where nothing but Escape does anything (after death, on the end
  // screen): Escape one time in twenty, otherwise as next().
  TCOD_key_t nextAfterTheEnd();
  // The next random key press that is not Escape (for the title screen, where Escape would
  // end the program).
  TCOD_key_t nextNotEscape();

 private:
  std::mt19937_64 generator;
};

}  // namespace harness

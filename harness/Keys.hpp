#pragma once

// The keys that stand in for the player: single keys as libtcod reports them, the game's own
// keys read from its key table, key scripts and the key source that feeds them to the game, and
// random keys for fuzzing.

#include <libtcod.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "Game.hpp"
#include "Keyboard.hpp"

namespace harness {

// The key builders are the game's own (source/Keyboard.hpp): plainKey(vk), characterKey(c),
// shiftedKey(c).
using keyboard::characterKey;
using keyboard::plainKey;
using keyboard::shiftedKey;
// The letter key that moves the player one step in `direction` (a Direction), as the game's
// key table binds it: moveKey(West) types 'h'.
TCOD_key_t moveKey(int direction);
// The key of one row of the game's key table, as libtcod reports it.
TCOD_key_t keyOf(const KeyBinding& binding);
// The first key of the game's key table that asks for `action` (keyFor): actionKey(Action::Wait)
// types '.', actionKey(Action::Quit) is Escape. A key with vk TCODK_NONE when none does.
TCOD_key_t actionKey(Action action);
// Every key of the game's key table that asks for `action`, in table order.
std::vector<TCOD_key_t> actionKeys(Action action);
// What `key` asks for by the game's key table, the way harness keys are built; Action::None for
// a key the table does not hold.
Action actionOf(const TCOD_key_t& key);

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

// Feeds the game scripted keys for as long as it lives, then gives the real keyboard back.
//
// The script is a key script (parseKeyScript): "hjkl.gi<Esc>" is h, j, k, l,
// '.', g, i, then Escape. A malformed script throws std::invalid_argument.
//
// <None> hands the game the answer the key wait gives once the window has been closed (a key
// whose vk is TCODK_NONE), so a test can check what Game::update does with it: no turn, and
// the run goes on until the shell sees the closed window. It does not close the window:
// TCODConsole::isWindowClosed() stays false and App::run would keep going, so it is safe
// outside a child process. To test the shell's reaction to a real close, let the script run
// out (below).
//
// When the script has run out, each further wait returns a key with vk TCODK_NONE; the first
// such wait also closes the window (keyboard::closeWindow), exactly as the player's close button
// does, so TCODConsole::isWindowClosed() is true and App::run stops at its next check.
// That cannot be undone in this process: a test that lets its script run out must do so in a
// child process, e.g. inside EXPECT_EXIT(..., ::testing::ExitedWithCode(0), ""). The test main
// fails any test that leaves the window closed behind it.
class KeyScript {
 public:
  explicit KeyScript(std::string_view script);
  explicit KeyScript(std::initializer_list<TCOD_key_t> keys);
  ~KeyScript();
  KeyScript(const KeyScript&) = delete;
  KeyScript& operator=(const KeyScript&) = delete;

  KeyScript& then(std::string_view script);  // appends more keys
  KeyScript& then(TCOD_key_t key);

  std::size_t remaining() const { return keys.size(); }  // keys not handed out yet
  bool ranOut() const { return exhausted; }              // a wait found the script empty

 private:
  TCOD_key_t next();

  std::deque<TCOD_key_t> keys;
  bool exhausted = false;
};

// The share (in thousandths, of 1000 for today's key table) of the fuzzer's keys that ask for
// `action`: its own, a small one for a key command added since, 0 for an action no key asks for.
int fuzzWeightOf(Action action);

// Random key presses for fuzzing, from its own generator (never rand(), which the game owns).
// Mostly the game's own keys, read from its key table with a share for each action
// (fuzzWeightOf), and the letters of the menus; but every key code, every character and every
// modifier flag turns up.
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
  TCOD_key_t anyKey();

  std::mt19937_64 generator;
};

}  // namespace harness

#pragma once

// The headless test rig: reading the root console back cell by cell, feeding the game scripted
// key presses, and counting its rand() calls.
//
// The test main (TestMain.cpp) loads the font sheet and opens the 80x50 root console once,
// under SDL's dummy video driver, before any test runs.

#include <libtcod.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>

#include "Headless.hpp"

namespace harness {

// ---------------------------------------------------------------------------------------------
// Reading the screen

// One cell of the root console: its character code and its two colours.
struct Cell {
  int ch;
  TCODColor fore;
  TCODColor back;
};
bool operator==(const Cell& a, const Cell& b);
void PrintTo(const Cell& cell, std::ostream* out);  // readable gtest failure messages

// The root console's cell at column x, row y.
Cell cellAt(int x, int y);

// The characters of row y from column x0 through column x1, both included, one byte per cell
// (a glyph code above 255 shows as '?').
std::string rowText(int y, int x0, int x1);

// The whole root console as text, one line per row: handy in failure messages.
std::string screenText();

// Clears the root console to blanks, white on black, as a fresh window shows it.
void clearRoot();

// ---------------------------------------------------------------------------------------------
// Keys (built with plainKey, characterKey, shiftedKey and moveKey of Headless.hpp)

// Feeds the game scripted keys for as long as it lives, then gives the real keyboard back.
//
// The script is a key script (parseKeyScript, Headless.hpp): "hjkl.gi<Esc>" is h, j, k, l,
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

// ---------------------------------------------------------------------------------------------
// Randomness (fixPartition is in Headless.hpp)

// How many times `action` calls rand(). Leaves rand() in the state the action left it in,
// starting from srand(seed). Throws std::runtime_error if the action draws more than `limit`
// numbers (or reseeds the generator).
std::size_t countRandDraws(const std::function<void()>& action, unsigned seed = 20240601u,
                           std::size_t limit = 20'000'000);

}  // namespace harness

#pragma once

#include <libtcod.hpp>

#include <functional>

// The game's own wait for a key press.
//
// libtcod's blocking TCODConsole::waitForKeypress never returns once the window has been
// closed, and SDL turns SIGTERM and SIGINT into that same close request, so the game waits
// for its keys here instead.
namespace keyboard {

// Blocks until the player presses a key and returns it the way libtcod reports it, with three
// corrections: a key that types a character gives the character typed, on any keyboard layout
// (SDL's text input: '.' typed with Shift on a French keyboard is '.'; TCODK_0..9 for digits,
// TCODK_SPACE for a space, TCODK_CHAR otherwise), the keypad's keys staying keypad keys; a
// printable character typed with Shift and no text input comes out as the shifted character
// ('H', '>', '!': upper-case letters, other characters as on a US keyboard); and pressing a
// modifier or lock key alone (Shift, Ctrl, Alt, the system keys, Caps/Num/Scroll Lock) is
// not a key press.
// Key presses that were already waiting are thrown away first, so a key pressed while the
// game was busy does not act twice. Key releases and other text-input events are skipped; an
// uncovered window is redrawn with TCODConsole::flush(). The wait sleeps in SDL and does not
// spin.
// When the window is closed (or the process asked to quit), returns at once with a key whose
// vk is TCODK_NONE; from then on TCODConsole::isWindowClosed() is true.
TCOD_key_t waitForKeypress();

// Closes the window the way the player's close button does: from now on
// TCODConsole::isWindowClosed() is true and every wait returns the "no key" answer. Scripted key
// sources call it when they run out of keys.
void closeWindow();

// The character a printable key gives with Shift held ('h' -> 'H', '.' -> '>', as on a US
// keyboard), or 0 when Shift does not change it.
char shiftedCharacter(char c);

// A key without a character (Escape, an arrow, Home, ...), as libtcod reports it, with the
// control character libtcod gives Escape, Enter, Tab, Backspace, Space and Delete.
TCOD_key_t plainKey(TCOD_keycode_t vk);
// The unshifted key that types `c` ('h', '.', '1', ' ').
TCOD_key_t characterKey(char c);
// `c` typed with Shift, as waitForKeypress reports it: 'h' gives 'H' with shift set, '.' gives
// '>'.
TCOD_key_t shiftedKey(char c);

// Where keys come from instead of SDL, for tests and the headless driver.
using KeySource = std::function<TCOD_key_t()>;

// From now on waitForKeypress returns whatever `source` returns, without touching SDL (and so
// without flushing). An empty function restores the real keyboard.
void setKeySource(KeySource source);

// waitForKeypress without its first step: blocks for the next key press in SDL's queue,
// including presses that are already queued. Ignores any installed KeySource. The game itself
// always goes through waitForKeypress; this exists so that tests can queue SDL events first
// and then wait for them.
TCOD_key_t nextKeypress();

}  // namespace keyboard

#pragma once

// Keys read from a terminal, as the TCOD_key_t values the game's window gives for the same
// key presses (see keyboard::waitForKeypress).

#include <libtcod.hpp>

#include <cstdint>
#include <optional>

namespace terminal {

// What ncurses' wget_wch returned: `isKeyCode` for KEY_CODE_YES (a function key such as
// KEY_UP), otherwise a character. `alt` when the key came after a lone Escape byte, as
// terminals send Alt+key.
struct TerminalKey {
  std::uint32_t code = 0;
  bool isKeyCode = false;
  bool alt = false;
};

// The game's key for a terminal key, or nothing for a key the window has no press for (a mouse
// report, a resize, an unknown function key, a character outside ASCII):
//   letters, digits, space and punctuation as typed ('h', '1' with vk TCODK_1, ' ' with
//   TCODK_SPACE); a character that needs Shift on a US keyboard ('H', '!', '>') with shift set,
//   as the window reports Shift+h; Ctrl+letter as the letter with lctrl; Alt+key with lalt;
//   Escape, Enter (carriage return or line feed), Tab and Backspace with their control
//   characters; the arrows, Home, End, Page Up/Down, Insert, Delete and F1..F12 as keys; the
//   keypad's Enter and 5 as TCODK_KPENTER and TCODK_KP5, its other keys as the arrows, Home,
//   End and Page Up/Down they stand for.
std::optional<TCOD_key_t> gameKey(const TerminalKey& key);

}  // namespace terminal

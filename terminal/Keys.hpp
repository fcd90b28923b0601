#pragma once

// Keys read from a terminal, as the TCOD_key_t values the game's window gives for the same
// key presses (see keyboard::waitForKeypress).

#include <libtcod.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace terminal {

// What ncurses' wget_wch returned: `isKeyCode` for KEY_CODE_YES (a function key such as
// KEY_UP), otherwise a character.
struct TerminalKey {
  std::uint32_t code = 0;
  bool isKeyCode = false;
};

// The game's key for a terminal key, or nothing for a key the window has no press for (a mouse
// report, a resize, an unknown function key, a character outside ASCII):
//   letters, digits, space and punctuation as typed ('h', '1' with vk TCODK_1, ' ' with
//   TCODK_SPACE); a character that needs Shift on a US keyboard ('H', '!', '>') with shift set,
//   as the window reports Shift+h; Ctrl+letter as the letter with lctrl; Escape, Enter
//   (carriage return or line feed), Tab and Backspace with their control characters; the
//   arrows, Home, End, Page Up/Down, Insert, Delete and F1..F12 as keys; the keypad's keys
//   ncurses names (KEY_A1 .. KEY_C3, KEY_ENTER) as the window's keypad keys (TCODK_KP7 ..).
std::optional<TCOD_key_t> gameKey(const TerminalKey& key);

// The game's keys for everything read from the terminal in one go, in order. Escape sequences
// that ncurses left undecoded are read here, whether terminfo knows them or not: SS3 (Escape O
// x: the keypad in application mode, the arrows, Home, End, F1..F4) and CSI (Escape [ ... final:
// the arrows, Home, End, Insert, Delete, Page Up/Down, F1..F12, the keypad's 5), each as the one
// key the window gives for it, and nothing for a sequence the window has no key for. Escape
// followed by anything else is Escape and then that key: Alt+key means nothing to the game, and
// over a slow link Escape and the next key arrive together.
std::vector<TCOD_key_t> gameKeys(const std::vector<TerminalKey>& input);

}  // namespace terminal

#include "Keys.hpp"

#include <curses.h>

#include <array>

#include "Keyboard.hpp"

namespace terminal {
namespace {

struct FunctionKey {
  int curses;
  TCOD_keycode_t vk;
};
constexpr std::array<FunctionKey, 20> kFunctionKeys = {{
    // ncurses key code, the game's key
    {KEY_UP, TCODK_UP},
    {KEY_DOWN, TCODK_DOWN},
    {KEY_LEFT, TCODK_LEFT},
    {KEY_RIGHT, TCODK_RIGHT},
    {KEY_HOME, TCODK_HOME},
    {KEY_END, TCODK_END},
    {KEY_PPAGE, TCODK_PAGEUP},
    {KEY_NPAGE, TCODK_PAGEDOWN},
    {KEY_IC, TCODK_INSERT},
    {KEY_DC, TCODK_DELETE},
    {KEY_BACKSPACE, TCODK_BACKSPACE},
    {KEY_ENTER, TCODK_KPENTER},
    {KEY_A1, TCODK_HOME},  // the keypad's 7, 9, 5, 1 and 3 without Num Lock
    {KEY_A3, TCODK_PAGEUP},
    {KEY_B2, TCODK_KP5},
    {KEY_C1, TCODK_END},
    {KEY_C3, TCODK_PAGEDOWN},
    {KEY_BTAB, TCODK_TAB},
    {KEY_SHOME, TCODK_HOME},
    {KEY_SEND, TCODK_END},
}};

TCOD_key_t pressOf(TCOD_keycode_t vk, char c) {
  TCOD_key_t key{};
  key.vk = vk;
  key.c = c;
  key.pressed = true;
  return key;
}

// A printable ASCII character as the window reports the key that types it.
TCOD_key_t printable(char c) {
  for (char plain = ' '; plain < 127; ++plain) {
    if (plain != c && keyboard::shiftedCharacter(plain) == c) {
      TCOD_key_t key = pressOf(TCODK_CHAR, c);  // 'H' is Shift+h, '>' is Shift+.
      key.shift = true;
      return key;
    }
  }
  if (c >= '0' && c <= '9') return pressOf(static_cast<TCOD_keycode_t>(TCODK_0 + (c - '0')), c);
  if (c == ' ') return pressOf(TCODK_SPACE, c);
  return pressOf(TCODK_CHAR, c);
}

std::optional<TCOD_key_t> keyCode(std::uint32_t code) {
  for (const FunctionKey& entry : kFunctionKeys) {
    if (static_cast<std::uint32_t>(entry.curses) == code) {
      TCOD_key_t key = pressOf(entry.vk, 0);
      if (code == KEY_BACKSPACE) key.c = 8;
      if (code == KEY_ENTER) key.c = 13;
      if (code == KEY_DC) key.c = 127;
      if (code == KEY_BTAB) {
        key.c = 9;
        key.shift = true;
      }
      if (code == KEY_SHOME || code == KEY_SEND) key.shift = true;
      return key;
    }
  }
  if (code >= static_cast<std::uint32_t>(KEY_F(1)) &&
      code <= static_cast<std::uint32_t>(KEY_F(12))) {
    return pressOf(static_cast<TCOD_keycode_t>(TCODK_F1 + (code - KEY_F(1))), 0);
  }
  return std::nullopt;  // a resize, a mouse report, a key the window has not got
}

std::optional<TCOD_key_t> character(std::uint32_t c) {
  switch (c) {
    case 27:
      return pressOf(TCODK_ESCAPE, 27);
    case '\r':
    case '\n':
      return pressOf(TCODK_ENTER, 13);
    case '\t':
      return pressOf(TCODK_TAB, 9);
    case 8:
    case 127:
      return pressOf(TCODK_BACKSPACE, 8);
    default:
      break;
  }
  if (c >= 1 && c <= 26) {  // Ctrl+a .. Ctrl+z
    TCOD_key_t key = pressOf(TCODK_CHAR, static_cast<char>('a' + c - 1));
    key.lctrl = true;
    return key;
  }
  if (c >= 32 && c < 127) return printable(static_cast<char>(c));
  return std::nullopt;  // not a key of a US keyboard
}

}  // namespace

std::optional<TCOD_key_t> gameKey(const TerminalKey& key) {
  std::optional<TCOD_key_t> result = key.isKeyCode ? keyCode(key.code) : character(key.code);
  if (result && key.alt) result->lalt = true;
  return result;
}

}  // namespace terminal

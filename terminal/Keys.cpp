#include "Keys.hpp"

#include <curses.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

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
    {KEY_A1, TCODK_KP7},  // the keypad's corners and centre, as ncurses names them
    {KEY_A3, TCODK_KP9},
    {KEY_B2, TCODK_KP5},
    {KEY_C1, TCODK_KP1},
    {KEY_C3, TCODK_KP3},
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

// The last byte of an SS3 sequence (Escape O x) and the key it stands for.
struct Ss3Key {
  char final;
  TCOD_keycode_t vk;
};
constexpr std::array<Ss3Key, 29> kSs3Keys = {{
    // final byte, the game's key
    {'A', TCODK_UP},    {'B', TCODK_DOWN},  {'C', TCODK_RIGHT},   {'D', TCODK_LEFT},
    {'H', TCODK_HOME},  {'F', TCODK_END},   {'P', TCODK_F1},      {'Q', TCODK_F2},
    {'R', TCODK_F3},    {'S', TCODK_F4},    {'M', TCODK_KPENTER}, {'j', TCODK_KPMUL},
    {'k', TCODK_KPADD}, {'m', TCODK_KPSUB}, {'n', TCODK_KPDEC},   {'o', TCODK_KPDIV},
    {'p', TCODK_KP0},   {'q', TCODK_KP1},   {'r', TCODK_KP2},     {'s', TCODK_KP3},
    {'t', TCODK_KP4},   {'u', TCODK_KP5},   {'v', TCODK_KP6},     {'w', TCODK_KP7},
    {'x', TCODK_KP8},   {'y', TCODK_KP9},   {'E', TCODK_KP5},     {'X', TCODK_NONE},
    {'l', TCODK_NONE},  // the keypad's = and , : the window has no key for them
}};

// The number of a CSI sequence ending in '~' and the key it stands for.
struct TildeKey {
  int number;
  TCOD_keycode_t vk;
};
constexpr std::array<TildeKey, 20> kTildeKeys = {{
    // number, the game's key
    {1, TCODK_HOME},   {7, TCODK_HOME},   {4, TCODK_END},      {8, TCODK_END},  {2, TCODK_INSERT},
    {3, TCODK_DELETE}, {5, TCODK_PAGEUP}, {6, TCODK_PAGEDOWN}, {11, TCODK_F1},  {12, TCODK_F2},
    {13, TCODK_F3},    {14, TCODK_F4},    {15, TCODK_F5},      {17, TCODK_F6},  {18, TCODK_F7},
    {19, TCODK_F8},    {20, TCODK_F9},    {21, TCODK_F10},     {23, TCODK_F11}, {24, TCODK_F12},
}};

// A key of a sequence, with the character the window gives with it.
std::optional<TCOD_key_t> sequenceKey(TCOD_keycode_t vk) {
  if (vk == TCODK_NONE) return std::nullopt;
  return pressOf(vk, vk == TCODK_KPENTER ? 13 : vk == TCODK_DELETE ? 127 : 0);
}

std::optional<TCOD_key_t> ss3Key(std::uint32_t final) {
  for (const Ss3Key& entry : kSs3Keys) {
    if (static_cast<std::uint32_t>(entry.final) == final) return sequenceKey(entry.vk);
  }
  return std::nullopt;
}

// The key of CSI `parameters` `final` (parameters such as "1;5", the modifiers ignored).
std::optional<TCOD_key_t> csiKey(const std::vector<std::uint32_t>& parameters,
                                 std::uint32_t final) {
  if (final == 'Z') return keyCode(KEY_BTAB);  // Shift+Tab
  if (final == 'E') return sequenceKey(TCODK_KP5);
  if (final != '~') {
    const bool sharedWithSs3 = final < 128 && std::strchr("ABCDHFPQRS", static_cast<int>(final));
    return sharedWithSs3 ? ss3Key(final) : std::nullopt;
  }
  int number = 0;
  for (std::uint32_t c : parameters) {
    if (c < '0' || c > '9' || number > 99) break;
    number = number * 10 + static_cast<int>(c - '0');
  }
  for (const TildeKey& entry : kTildeKeys) {
    if (entry.number == number) return sequenceKey(entry.vk);
  }
  return std::nullopt;
}

bool isCharacter(const std::vector<TerminalKey>& input, std::size_t at, std::uint32_t c) {
  return at < input.size() && !input[at].isKeyCode && input[at].code == c;
}

// Reads the sequence that starts with the Escape at `at` into `keys` and returns where the
// input goes on, or returns `at` when no complete SS3 or CSI sequence starts there.
std::size_t readSequence(const std::vector<TerminalKey>& input, std::size_t at,
                         std::vector<TCOD_key_t>& keys) {
  std::optional<TCOD_key_t> key;
  std::size_t next = at;
  const bool finalFollows = at + 2 < input.size() && !input[at + 2].isKeyCode &&
                            input[at + 2].code >= 0x40 && input[at + 2].code <= 0x7E;
  if (isCharacter(input, at + 1, 'O') && finalFollows) {
    key = ss3Key(input[at + 2].code);
    next = at + 3;
  } else if (isCharacter(input, at + 1, '[')) {
    std::vector<std::uint32_t> parameters;
    for (std::size_t i = at + 2; i < input.size() && !input[i].isKeyCode; ++i) {
      const std::uint32_t c = input[i].code;
      if (c >= 0x40 && c <= 0x7E) {  // the final byte
        key = csiKey(parameters, c);
        next = i + 1;
        break;
      }
      if (c < 0x20 || c > 0x3F) break;  // not a sequence after all
      parameters.push_back(c);
    }
  }
  if (key) keys.push_back(*key);
  return next;
}

}  // namespace

std::optional<TCOD_key_t> gameKey(const TerminalKey& key) {
  return key.isKeyCode ? keyCode(key.code) : character(key.code);
}

std::vector<TCOD_key_t> gameKeys(const std::vector<TerminalKey>& input) {
  std::vector<TCOD_key_t> keys;
  for (std::size_t at = 0; at < input.size();) {
    if (isCharacter(input, at, 27)) {
      const std::size_t next = readSequence(input, at, keys);
      if (next != at) {
        at = next;
        continue;
      }
    }
    if (std::optional<TCOD_key_t> key = gameKey(input[at]); key) keys.push_back(*key);
    ++at;
  }
  return keys;
}

}  // namespace terminal

#include "Keyboard.hpp"

#include <SDL.h>
#include <libtcod/sdl2/event.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

namespace keyboard {
namespace {

KeySource keySource;

// Keys that only change what another key means, or toggle a lock: pressing one alone is not
// a key press for the game.
constexpr SDL_Keycode modifierKeys[] = {
    SDLK_LSHIFT, SDLK_RSHIFT, SDLK_LCTRL, SDLK_RCTRL,    SDLK_LALT,         SDLK_RALT,
    SDLK_LGUI,   SDLK_RGUI,   SDLK_MODE,  SDLK_CAPSLOCK, SDLK_NUMLOCKCLEAR, SDLK_SCROLLLOCK,
};

// Printable characters and what Shift turns them into on a US keyboard. Letters are handled
// apart (they become upper case).
struct ShiftedChar {
  char plain;
  char shifted;
};
constexpr ShiftedChar shiftedChars[] = {
    // plain, shifted
    {'`', '~'}, {'1', '!'},  {'2', '@'}, {'3', '#'},  {'4', '$'}, {'5', '%'}, {'6', '^'},
    {'7', '&'}, {'8', '*'},  {'9', '('}, {'0', ')'},  {'-', '_'}, {'=', '+'}, {'[', '{'},
    {']', '}'}, {'\\', '|'}, {';', ':'}, {'\'', '"'}, {',', '<'}, {'.', '>'}, {'/', '?'},
};

TCOD_key_t noKey() {
  TCOD_key_t key{};
  key.vk = TCODK_NONE;
  return key;
}

bool isModifierKey(SDL_Keycode sym) {
  return std::find(std::begin(modifierKeys), std::end(modifierKeys), sym) != std::end(modifierKeys);
}

bool isCloseRequest(const SDL_Event& event) {
  return event.type == SDL_QUIT ||
         (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE);
}

bool isExpose(const SDL_Event& event) {
  return event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED;
}

// libtcod's report of a key press, with the modifier flags taken from the event itself
// (libtcod tracks them from earlier modifier presses, which a flushed queue may have lost) and
// the shifted character in place of the plain one.
TCOD_key_t toKey(const SDL_Event& event) {
  TCOD_key_t key{};
  tcod::sdl2::process_event(event, key);
  const Uint16 mod = event.key.keysym.mod;
  key.pressed = true;
  key.shift = (mod & KMOD_SHIFT) != 0;
  key.lctrl = (mod & KMOD_LCTRL) != 0;
  key.rctrl = (mod & KMOD_RCTRL) != 0;
  key.lalt = (mod & KMOD_LALT) != 0;
  key.ralt = (mod & KMOD_RALT) != 0;
  key.lmeta = (mod & KMOD_LGUI) != 0;
  key.rmeta = (mod & KMOD_RGUI) != 0;
  if (key.shift) {
    if (char shifted = shiftedCharacter(key.c); shifted != 0) {
      key.vk = TCODK_CHAR;  // Shift+1 is the character '!', not the key 1
      key.c = shifted;
    }
  }
  return key;
}

bool isKeypadKey(TCOD_keycode_t vk) {
  return vk >= TCODK_KP0 && vk <= TCODK_KPENTER;
}

// The character the player typed with the key press just taken from the queue, on whatever
// keyboard layout: the text-input event SDL queues right behind the press, taken off the queue
// too. 0 when none follows or it is not one ASCII character.
char typedCharacter() {
  SDL_Event next;
  if (SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) != 1 ||
      next.type != SDL_TEXTINPUT) {
    return 0;
  }
  SDL_PeepEvents(&next, 1, SDL_GETEVENT, SDL_TEXTINPUT, SDL_TEXTINPUT);
  const char* text = next.text.text;
  const bool oneAscii = text[0] >= ' ' && text[0] < 127 && text[1] == '\0';
  return oneAscii ? text[0] : 0;
}

// The key press as the game sees it: libtcod's report (toKey) with the character typed in
// place of the one a US keyboard would give, so that '.' is '.' on a French keyboard too. The
// keypad's keys stay keypad keys, whatever they type.
TCOD_key_t pressOf(const SDL_Event& event) {
  TCOD_key_t key = toKey(event);
  const char typed = typedCharacter();
  if (typed == 0 || isKeypadKey(key.vk)) return key;
  const TCOD_key_t typedKey = characterKey(typed);
  key.c = typedKey.c;
  key.vk = typedKey.vk;
  return key;
}

// The "no key" answer of a closed window.
TCOD_key_t closedWindow() {
  closeWindow();
  return noKey();
}

}  // namespace

void closeWindow() {
  if (TCODConsole::isWindowClosed()) return;
  // Nothing queued matters any more; libtcod's own poll may stop at the first key it meets,
  // so the quit request must be the only event left.
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  TCODConsole::checkForKeypress(TCOD_KEY_PRESSED);
#pragma GCC diagnostic pop
}

char shiftedCharacter(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  for (const ShiftedChar& entry : shiftedChars) {
    if (entry.plain == c) return entry.shifted;
  }
  return 0;
}

TCOD_key_t plainKey(TCOD_keycode_t vk) {
  TCOD_key_t key{};
  key.vk = vk;
  key.pressed = vk != TCODK_NONE;
  // libtcod also reports the control character of these keys
  switch (vk) {
    case TCODK_ESCAPE:
      key.c = 27;
      break;
    case TCODK_ENTER:
      key.c = 13;
      break;
    case TCODK_TAB:
      key.c = 9;
      break;
    case TCODK_BACKSPACE:
      key.c = 8;
      break;
    case TCODK_SPACE:
      key.c = ' ';
      break;
    case TCODK_DELETE:
      key.c = 127;
      break;
    default:
      break;
  }
  return key;
}

TCOD_key_t characterKey(char c) {
  TCOD_key_t key{};
  key.pressed = true;
  key.c = c;
  if (c >= '0' && c <= '9') {
    key.vk = static_cast<TCOD_keycode_t>(TCODK_0 + (c - '0'));
  } else if (c == ' ') {
    key.vk = TCODK_SPACE;
  } else {
    key.vk = TCODK_CHAR;
  }
  return key;
}

TCOD_key_t shiftedKey(char c) {
  TCOD_key_t key = characterKey(c);
  key.shift = true;
  if (const char shifted = shiftedCharacter(c); shifted != 0) {
    key.vk = TCODK_CHAR;
    key.c = shifted;
  }
  return key;
}

void setKeySource(KeySource source) {
  keySource = std::move(source);
}

TCOD_key_t waitForKeypress() {
  if (keySource) return keySource();
  if (TCODConsole::isWindowClosed()) return noKey();

  // Drop what was typed while the game was busy, but keep a close request and redraw an
  // uncovered window once.
  bool exposed = false;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (isCloseRequest(event)) return closedWindow();
    if (isExpose(event)) exposed = true;
  }
  if (exposed) TCODConsole::flush();
  return nextKeypress();
}

TCOD_key_t nextKeypress() {
  if (TCODConsole::isWindowClosed()) return noKey();  // no key will ever come
  SDL_Event event;
  for (;;) {
    if (!SDL_WaitEvent(&event)) {
      // No event queue (no window was ever opened): no key can ever come, so answer like a
      // closed window instead of leaving the caller to ask again and again.
      std::fprintf(stderr, "Vesperdeep: cannot wait for a key: %s\n", SDL_GetError());
      return closedWindow();
    }
    if (isCloseRequest(event)) return closedWindow();
    if (isExpose(event)) {
      TCODConsole::flush();
      continue;
    }
    if (event.type == SDL_KEYDOWN && !isModifierKey(event.key.keysym.sym)) return pressOf(event);
    // Key releases, text input, mouse and other window events are not key presses.
  }
}

}  // namespace keyboard

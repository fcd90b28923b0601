#include "support/Rig.hpp"

#include "Keyboard.hpp"

#include <SDL.h>

#include <array>
#include <cstdlib>
#include <ostream>
#include <stdexcept>

namespace rig {

bool operator==(const Cell& a, const Cell& b) {
  return a.ch == b.ch && a.fore == b.fore && a.back == b.back;
}

void PrintTo(const Cell& cell, std::ostream* out) {
  *out << "{ch " << cell.ch;
  if (cell.ch > 32 && cell.ch < 127) *out << " '" << static_cast<char>(cell.ch) << "'";
  *out << ", fore (" << int{cell.fore.r} << "," << int{cell.fore.g} << "," << int{cell.fore.b}
       << "), back (" << int{cell.back.r} << "," << int{cell.back.g} << "," << int{cell.back.b}
       << ")}";
}

Cell cellAt(int x, int y) {
  TCODConsole* root = TCODConsole::root;
  return Cell{root->getChar(x, y), root->getCharForeground(x, y), root->getCharBackground(x, y)};
}

std::string rowText(int y, int x0, int x1) {
  std::string text;
  for (int x = x0; x <= x1; ++x) {
    const int ch = TCODConsole::root->getChar(x, y);
    text += (ch >= 0 && ch < 256) ? static_cast<char>(ch) : '?';
  }
  return text;
}

std::string screenText() {
  std::string text;
  const int width = TCODConsole::root->getWidth();
  for (int y = 0; y < TCODConsole::root->getHeight(); ++y)
    text += rowText(y, 0, width - 1) + '\n';
  return text;
}

// ---------------------------------------------------------------------------------------------
// Keys

TCOD_key_t key(TCOD_keycode_t vk) {
  TCOD_key_t k{};
  k.vk = vk;
  k.pressed = vk != TCODK_NONE;
  // libtcod also fills in the control character of these keys
  switch (vk) {
    case TCODK_ESCAPE:
      k.c = 27;
      break;
    case TCODK_ENTER:
      k.c = 13;
      break;
    case TCODK_TAB:
      k.c = 9;
      break;
    case TCODK_BACKSPACE:
      k.c = 8;
      break;
    case TCODK_SPACE:
      k.c = ' ';
      break;
    case TCODK_DELETE:
      k.c = 127;
      break;
    default:
      break;
  }
  return k;
}

TCOD_key_t charKey(char c) {
  TCOD_key_t k{};
  k.pressed = true;
  k.c = c;
  if (c >= '0' && c <= '9') {
    k.vk = static_cast<TCOD_keycode_t>(TCODK_0 + (c - '0'));
  } else if (c == ' ') {
    k.vk = TCODK_SPACE;
  } else {
    k.vk = TCODK_CHAR;
  }
  return k;
}

TCOD_key_t shifted(char c) {
  static constexpr std::string_view plain = "`1234567890-=[]\\;',./";
  static constexpr std::string_view withShift = "~!@#$%^&*()_+{}|:\"<>?";
  TCOD_key_t k = charKey(c);
  k.shift = true;
  if (c >= 'a' && c <= 'z') {
    k.c = static_cast<char>(c - 'a' + 'A');
  } else if (auto at = plain.find(c); at != std::string_view::npos) {
    k.vk = TCODK_CHAR;
    k.c = withShift[at];
  }
  return k;
}

namespace {

struct NamedKey {
  std::string_view name;
  TCOD_keycode_t vk;
};
constexpr std::array<NamedKey, 15> namedKeys = {{
    // name, key
    {"Esc", TCODK_ESCAPE},
    {"Up", TCODK_UP},
    {"Down", TCODK_DOWN},
    {"Left", TCODK_LEFT},
    {"Right", TCODK_RIGHT},
    {"Home", TCODK_HOME},
    {"End", TCODK_END},
    {"PgUp", TCODK_PAGEUP},
    {"PgDn", TCODK_PAGEDOWN},
    {"Enter", TCODK_ENTER},
    {"Tab", TCODK_TAB},
    {"Backspace", TCODK_BACKSPACE},
    {"Del", TCODK_DELETE},
    {"Ins", TCODK_INSERT},
    {"None", TCODK_NONE},
}};

// Parses "1".."max" into a number, or returns 0.
int smallNumber(std::string_view text, int max) {
  if (text.empty() || text.size() > 2) return 0;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n <= max ? n : 0;
}

TCOD_key_t namedKey(std::string_view name) {
  for (const NamedKey& entry : namedKeys) {
    if (entry.name == name) return key(entry.vk);
  }
  if (name == "lt") return charKey('<');
  if (name.size() == 3 && name.substr(0, 2) == "S-") return shifted(name[2]);
  if (name.size() >= 2 && name[0] == 'F') {
    if (int n = smallNumber(name.substr(1), 12); n > 0) {
      return key(static_cast<TCOD_keycode_t>(TCODK_F1 + n - 1));
    }
  }
  if (name.size() == 3 && name.substr(0, 2) == "KP" && name[2] >= '0' && name[2] <= '9') {
    return key(static_cast<TCOD_keycode_t>(TCODK_KP0 + (name[2] - '0')));
  }
  throw std::invalid_argument("unknown key name <" + std::string(name) + "> in a key script");
}

}  // namespace

std::deque<TCOD_key_t> parseKeys(std::string_view script) {
  std::deque<TCOD_key_t> keys;
  for (std::size_t i = 0; i < script.size(); ++i) {
    if (script[i] != '<') {
      keys.push_back(charKey(script[i]));
      continue;
    }
    const std::size_t close = script.find('>', i + 1);
    if (close == std::string_view::npos) {
      throw std::invalid_argument("unclosed '<' in key script \"" + std::string(script) + "\"");
    }
    keys.push_back(namedKey(script.substr(i + 1, close - i - 1)));
    i = close;
  }
  return keys;
}

KeyScript::KeyScript(std::string_view script) : keys(parseKeys(script)) {
  keyboard::setKeySource([this] { return next(); });
}

KeyScript::KeyScript(std::initializer_list<TCOD_key_t> list) : keys(list) {
  keyboard::setKeySource([this] { return next(); });
}

KeyScript::~KeyScript() {
  keyboard::setKeySource(nullptr);
}

KeyScript& KeyScript::then(std::string_view script) {
  for (const TCOD_key_t& k : parseKeys(script))
    keys.push_back(k);
  return *this;
}

KeyScript& KeyScript::then(TCOD_key_t k) {
  keys.push_back(k);
  return *this;
}

TCOD_key_t KeyScript::next() {
  if (!keys.empty()) {
    const TCOD_key_t k = keys.front();
    keys.pop_front();
    return k;
  }
  if (!exhausted) {
    // Out of keys: the player closes the window.
    exhausted = true;
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    TCODConsole::checkForKeypress(TCOD_KEY_PRESSED);
#pragma GCC diagnostic pop
  }
  return key(TCODK_NONE);
}

// ---------------------------------------------------------------------------------------------
// Randomness

void fixPartition(std::uint32_t seed) {
  const TCODRandom fresh(seed);
  TCODRandom::getInstance()->restore(&fresh);
}

std::size_t countRandDraws(const std::function<void()>& action, unsigned seed, std::size_t limit) {
  std::srand(seed);
  action();
  // The two numbers that follow the action mark where it stopped; two in a row cannot turn up
  // earlier in the sequence by chance.
  const int first = std::rand();
  const int second = std::rand();

  std::srand(seed);
  int previous = std::rand();
  for (std::size_t draws = 0; draws <= limit; ++draws) {
    const int current = std::rand();
    if (previous == first && current == second) {
      std::srand(seed);
      for (std::size_t i = 0; i < draws; ++i)
        std::rand();
      return draws;
    }
    previous = current;
  }
  throw std::runtime_error("countRandDraws: the action drew more than " + std::to_string(limit) +
                           " numbers, or reseeded rand()");
}

}  // namespace rig

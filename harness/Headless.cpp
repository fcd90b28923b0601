#include "Headless.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "Cp437.hpp"
#include "Entity.hpp"
#include "Game.hpp"
#include "Item.hpp"
#include "Keyboard.hpp"
#include "Map.hpp"
#include "MessageLog.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Tile.hpp"

namespace harness {
namespace {

std::string hexColour(const TCODColor& colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", colour.r, colour.g, colour.b);
  return text;
}

// ---- Key scripts -----------------------------------------------------------------------------

struct NamedKey {
  std::string_view name;
  TCOD_keycode_t vk;
};
constexpr std::array<NamedKey, 16> kNamedKeys = {{
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
    {"Space", TCODK_SPACE},
}};

// "1".."max" as a number, or 0.
int smallNumber(std::string_view text, int max) {
  if (text.empty() || text.size() > 2) return 0;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n <= max ? n : 0;
}

// The modifier flags of a raw key, from bit 0 up (Shift is 1, right Meta 64); the bit above
// them marks a release.
constexpr std::array<bool TCOD_key_t::*, 7> kModifiers = {
    &TCOD_key_t::shift, &TCOD_key_t::lctrl, &TCOD_key_t::rctrl, &TCOD_key_t::lalt,
    &TCOD_key_t::ralt,  &TCOD_key_t::lmeta, &TCOD_key_t::rmeta,
};
constexpr unsigned kReleasedFlag = 1u << kModifiers.size();

unsigned rawFlags(const TCOD_key_t& key) {
  unsigned flags = key.pressed ? 0u : kReleasedFlag;
  for (std::size_t bit = 0; bit < kModifiers.size(); ++bit) {
    if (key.*kModifiers[bit]) flags |= 1u << bit;
  }
  return flags;
}

// The key with code `vk`, character `c` and the modifier/release bits of `flags` (rawFlags'
// inverse).
TCOD_key_t keyWithFlags(TCOD_keycode_t vk, char c, unsigned flags) {
  TCOD_key_t key{};
  key.vk = vk;
  key.c = c;
  for (std::size_t bit = 0; bit < kModifiers.size(); ++bit)
    key.*kModifiers[bit] = (flags & (1u << bit)) != 0;
  key.pressed = (flags & kReleasedFlag) == 0;
  return key;
}

// "<#vk,c,flags>": any key at all, as the fuzzer makes them.
TCOD_key_t rawKey(std::string_view body) {
  int values[3] = {0, 0, 0};
  int index = 0;
  bool negative = false;
  bool digits = false;
  for (char c : body) {
    if (c == ',') {
      if (!digits || ++index > 2)
        throw std::invalid_argument("bad raw key <#" + std::string(body) + ">");
      negative = digits = false;
    } else if (c == '-' && !digits && !negative) {
      negative = true;
    } else if (c >= '0' && c <= '9' && values[index] < 100000) {
      values[index] = values[index] * 10 + (negative ? -(c - '0') : (c - '0'));
      digits = true;
    } else {
      throw std::invalid_argument("bad raw key <#" + std::string(body) + ">");
    }
  }
  if (index != 2 || !digits || values[0] < TCODK_NONE || values[0] > TCODK_TEXT ||
      values[1] < -128 || values[1] > 255 || values[2] < 0 || values[2] > 255) {
    throw std::invalid_argument("bad raw key <#" + std::string(body) + ">");
  }
  return keyWithFlags(static_cast<TCOD_keycode_t>(values[0]), static_cast<char>(values[1]),
                      static_cast<unsigned>(values[2]));
}

TCOD_key_t namedKey(std::string_view name) {
  for (const NamedKey& entry : kNamedKeys) {
    if (entry.name == name) return plainKey(entry.vk);
  }
  if (name == "lt") return characterKey('<');
  if (name.size() == 3 && name.substr(0, 2) == "S-") return shiftedKey(name[2]);
  if (name.size() >= 2 && name[0] == 'F') {
    if (const int n = smallNumber(name.substr(1), 12); n > 0) {
      return plainKey(static_cast<TCOD_keycode_t>(TCODK_F1 + n - 1));
    }
  }
  if (name.size() == 3 && name.substr(0, 2) == "KP" && name[2] >= '0' && name[2] <= '9') {
    return plainKey(static_cast<TCOD_keycode_t>(TCODK_KP0 + (name[2] - '0')));
  }
  if (!name.empty() && name[0] == '#') return rawKey(name.substr(1));
  throw std::invalid_argument("unknown key name <" + std::string(name) + "> in a key script");
}

bool sameKey(const TCOD_key_t& a, const TCOD_key_t& b) {
  return a.vk == b.vk && a.c == b.c && rawFlags(a) == rawFlags(b) &&
         std::strncmp(a.text, b.text, sizeof a.text) == 0;
}

}  // namespace

TCOD_key_t moveKey(int direction) {
  return characterKey(moveLetter(direction));
}

// ---- Randomness ------------------------------------------------------------------------------

void fixPartition(std::uint32_t seed) {
  const TCODRandom fresh(seed);
  TCODRandom::getInstance()->restore(&fresh);
}

// ---- The screen ------------------------------------------------------------------------------

std::string screenUtf8() {
  const TCODConsole& root = *TCODConsole::root;
  std::string out;
  for (int y = 0; y < root.getHeight(); ++y) {
    for (int x = 0; x < root.getWidth(); ++x) {
      const int code = root.getChar(x, y);
      cp437::appendUtf8(out, cp437::unicode(code));
    }
    out += '\n';
  }
  return out;
}

std::string screenColours() {
  const TCODConsole& root = *TCODConsole::root;
  std::string out;
  for (int y = 0; y < root.getHeight(); ++y) {
    std::string line;
    std::string previous;
    int run = 0;
    const auto flush = [&] {
      if (run == 0) return;
      if (!line.empty()) line += ' ';
      if (run > 1) line += std::to_string(run) + "*";
      line += previous;
    };
    for (int x = 0; x < root.getWidth(); ++x) {
      const std::string cell =
          hexColour(root.getCharForeground(x, y)) + "/" + hexColour(root.getCharBackground(x, y));
      if (cell == previous) {
        ++run;
        continue;
      }
      flush();
      previous = cell;
      run = 1;
    }
    flush();
    out += line + '\n';
  }
  return out;
}

// ---- Keys ------------------------------------------------------------------------------------

std::vector<TCOD_key_t> parseKeyScript(std::string_view script) {
  std::vector<TCOD_key_t> keys;
  bool lineStart = true;
  for (std::size_t i = 0; i < script.size(); ++i) {
    const char c = script[i];
    if (c == '\n' || c == '\r') {
      lineStart = true;
      continue;
    }
    if (lineStart && c == '#') {  // a comment line
      const std::size_t end = script.find('\n', i);
      if (end == std::string_view::npos) break;
      i = end - 1;
      continue;
    }
    lineStart = false;
    if (c != '<') {
      keys.push_back(characterKey(c));
      continue;
    }
    const std::size_t close = script.find('>', i + 1);
    if (close == std::string_view::npos) {
      throw std::invalid_argument("unclosed '<' in a key script at offset " + std::to_string(i));
    }
    keys.push_back(namedKey(script.substr(i + 1, close - i - 1)));
    i = close;
  }
  return keys;
}

std::string describeKey(const TCOD_key_t& key) {
  for (const NamedKey& entry : kNamedKeys) {
    if (sameKey(key, plainKey(entry.vk))) return "<" + std::string(entry.name) + ">";
  }
  if (key.c == '<' && sameKey(key, characterKey('<'))) return "<lt>";
  if (key.c >= 32 && key.c < 127 && key.c != '<' && key.c != '#' &&
      sameKey(key, characterKey(key.c))) {
    return std::string(1, key.c);
  }
  for (char c = 33; c < 127; ++c) {
    if (keyboard::shiftedCharacter(c) != 0 && sameKey(key, shiftedKey(c))) {
      return std::string("<S-") + c + ">";
    }
  }
  for (int n = 1; n <= 12; ++n) {
    if (sameKey(key, plainKey(static_cast<TCOD_keycode_t>(TCODK_F1 + n - 1)))) {
      return "<F" + std::to_string(n) + ">";
    }
  }
  for (int n = 0; n <= 9; ++n) {
    if (sameKey(key, plainKey(static_cast<TCOD_keycode_t>(TCODK_KP0 + n)))) {
      return "<KP" + std::to_string(n) + ">";
    }
  }
  return "<#" + std::to_string(key.vk) + "," + std::to_string(int{key.c}) + "," +
         std::to_string(rawFlags(key)) + ">";
}

// ---- Random keys -----------------------------------------------------------------------------

namespace {

// The game's own keys, and how often the fuzzer presses each group (in thousandths).
constexpr std::array<Direction, 8> kMoves = {West,      South,     North,     East,
                                             NorthWest, NorthEast, SouthWest, SouthEast};
constexpr std::array<TCOD_keycode_t, 4> kArrows = {TCODK_UP, TCODK_DOWN, TCODK_LEFT, TCODK_RIGHT};

struct Weight {
  int moves = 470;     // h j k l y u b n and the arrows
  int wait = 80;       // .
  int pickUp = 80;     // g
  int inventory = 60;  // i
  int drop = 40;       // d
  int letters = 120;   // a..z: the choices of the menus
  int home = 25;       // Home: a piece of bat meat
  int escape = 4;      // leaves menus, the game, the end screen
  // the rest: any key code, any character, any modifiers
};

}  // namespace

KeyFuzzer::KeyFuzzer(std::uint64_t seed) : generator(seed) {}

TCOD_key_t KeyFuzzer::next() {
  const Weight weight;
  std::uniform_int_distribution<int> thousandth(0, 999);
  int roll = thousandth(generator);
  const auto pick = [&](int share) {
    if (roll < share) return true;
    roll -= share;
    return false;
  };
  const auto below = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(generator);
  };
  if (pick(weight.moves)) {
    const std::size_t choice = below(kMoves.size() + kArrows.size());
    return choice < kMoves.size() ? moveKey(kMoves[choice])
                                  : plainKey(kArrows[choice - kMoves.size()]);
  }
  if (pick(weight.wait)) return characterKey('.');
  if (pick(weight.pickUp)) return characterKey('g');
  if (pick(weight.inventory)) return characterKey('i');
  if (pick(weight.drop)) return characterKey('d');
  if (pick(weight.letters)) return characterKey(static_cast<char>('a' + below(26)));
  if (pick(weight.home)) return plainKey(TCODK_HOME);
  if (pick(weight.escape)) return plainKey(TCODK_ESCAPE);

  // Anything at all: every key code, every character, every modifier, even a release.
  const auto vk = static_cast<TCOD_keycode_t>(
      std::uniform_int_distribution<int>(TCODK_NONE, TCODK_TEXT)(generator));
  const auto c = static_cast<char>(std::uniform_int_distribution<int>(-128, 127)(generator));
  const auto flags = static_cast<unsigned>(std::uniform_int_distribution<int>(0, 255)(generator));
  return keyWithFlags(vk, c, flags);
}

TCOD_key_t KeyFuzzer::nextInMenu() {
  switch (std::uniform_int_distribution<int>(0, 29)(generator)) {
    case 0:
      return plainKey(TCODK_ESCAPE);
    case 1:
    case 2:
      return characterKey('z');
    default:
      return next();
  }
}

TCOD_key_t KeyFuzzer::nextAfterTheEnd() {
  if (std::uniform_int_distribution<int>(0, 19)(generator) == 0) return plainKey(TCODK_ESCAPE);
  return next();
}

TCOD_key_t KeyFuzzer::nextNotEscape() {
  for (;;) {
    const TCOD_key_t key = next();
    if (key.vk != TCODK_ESCAPE) return key;
  }
}

}  // namespace harness

#include "Headless.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>

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

// Unicode code points of the 256 glyphs of code page 437, the layout of the game's font sheet.
// Code 0 draws nothing, so it reads as a space.
constexpr std::array<char32_t, 256> kCodePage437 = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  // 0x00
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  //
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  // 0x10
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  //
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 0x20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  //
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 0x30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  //
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 0x40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  //
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 0x50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  //
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 0x60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  //
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 0x70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x2302,  //
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  //
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  //
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  //
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 0xB0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  //
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  //
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 0xD0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  //
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 0xE0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  //
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 0xF0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  //
};

void appendUtf8(std::string& out, char32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

std::string hexColour(const TCODColor& colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", colour.r, colour.g, colour.b);
  return text;
}

// 64-bit FNV-1a over explicitly laid out bytes, so the hash is the same on every machine.
class Fnv1a {
 public:
  void byte(std::uint8_t value) {
    hash ^= value;
    hash *= 0x100000001B3ull;
  }
  void number(std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    for (int shift = 0; shift < 64; shift += 8)
      byte(static_cast<std::uint8_t>(bits >> shift));
  }
  void flag(bool value) { byte(value ? 1 : 0); }
  void text(const std::string& value) {
    number(static_cast<std::int64_t>(value.size()));
    for (char c : value)
      byte(static_cast<std::uint8_t>(c));
  }
  // Each value in turn: a bool as a flag, any other number as a number.
  template <typename... Values>
  void fields(const Values&... values) {
    (field(values), ...);
  }
  std::uint64_t value() const { return hash; }

 private:
  template <typename Value>
  void field(const Value& value) {
    if constexpr (std::is_same_v<Value, bool>) {
      flag(value);
    } else {
      number(static_cast<std::int64_t>(value));
    }
  }

  std::uint64_t hash = 0xCBF29CE484222325ull;
};

// What kind of entity a hash line stands for.
enum EntityTag : std::uint8_t { PlainTag = 0, ItemTag = 1, CreatureTag = 2, PlayerTag = 3 };

void hashCreature(Fnv1a& hash, const NPC& creature) {
  hash.fields(creature.kind, creature.hp, creature.maxHp, creature.angry, creature.fleeing,
              creature.fleeCounter, creature.turnsSinceAttack, creature.energy, creature.armor,
              creature.weaponDamage);
  hash.number(creature.target != nullptr ? static_cast<std::int64_t>(creature.target->id) : -1);
}

void hashItem(Fnv1a& hash, const Item& item) {
  hash.number(item.kind);
  hash.text(item.name);
  hash.fields(item.equipped, item.slot, item.bonus);
}

void hashEntity(Fnv1a& hash, const Entity& entity) {
  const auto* item = dynamic_cast<const Item*>(&entity);
  const auto* creature = dynamic_cast<const NPC*>(&entity);
  const EntityTag tag = item != nullptr       ? ItemTag
                        : creature == nullptr ? PlainTag
                        : creature->isPlayer  ? PlayerTag
                                              : CreatureTag;
  hash.byte(tag);
  hash.fields(entity.id, entity.x, entity.y, entity.glyph, entity.blocks, entity.dead,
              entity.playerSide);
  if (item != nullptr) hashItem(hash, *item);
  if (creature != nullptr) hashCreature(hash, *creature);
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

TCOD_key_t moveKey(int direction) {
  return characterKey(moveLetter(direction));
}

TCOD_key_t shiftedKey(char c) {
  TCOD_key_t key = characterKey(c);
  key.shift = true;
  if (const char shifted = keyboard::shiftedCharacter(c); shifted != 0) {
    key.vk = TCODK_CHAR;
    key.c = shifted;
  }
  return key;
}

// ---- Randomness ------------------------------------------------------------------------------

void fixPartition(std::uint32_t seed) {
  const TCODRandom fresh(seed);
  TCODRandom::getInstance()->restore(&fresh);
}

// ---- The screen ------------------------------------------------------------------------------

std::string glyphUtf8(int code) {
  std::string out;
  appendUtf8(out, code >= 0 && code < 256 ? kCodePage437[static_cast<std::size_t>(code)] : 0xFFFD);
  return out;
}

std::string screenUtf8() {
  const TCODConsole& root = *TCODConsole::root;
  std::string out;
  for (int y = 0; y < root.getHeight(); ++y) {
    for (int x = 0; x < root.getWidth(); ++x) {
      const int code = root.getChar(x, y);
      appendUtf8(out,
                 code >= 0 && code < 256 ? kCodePage437[static_cast<std::size_t>(code)] : 0xFFFD);
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

// ---- The state -------------------------------------------------------------------------------

std::uint64_t stateHash(const Game& game) {
  Fnv1a hash;
  hash.fields(game.turnCount, game.killCount, game.storyStage, game.mode);

  const Player& player = *game.player;
  hash.fields(player.hunger, player.regenCounter);
  hash.number(static_cast<std::int64_t>(player.inventory.size()));
  for (const Item* item : player.inventory) {
    hash.number(item->id);
    hashItem(hash, *item);
  }
  for (const Item* worn : player.equipment) {
    hash.number(worn != nullptr ? static_cast<std::int64_t>(worn->id) : -1);
  }

  hash.number(static_cast<std::int64_t>(game.registry.size()));
  for (const auto& [id, entity] : game.registry) {
    hash.number(id);
    hashEntity(hash, *entity);
  }

  const Map& map = *game.map;
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      const Tile& tile = map.tileAt(x, y);
      hash.flag(tile.explored);
      // What lies on the level, in arrival order, including dropped items nobody registered.
      if (tile.entities.empty()) continue;
      hash.number(static_cast<std::int64_t>(tile.entities.size()));
      for (const Entity* entity : tile.entities)
        hash.number(entity->id);
    }
  }

  hash.number(static_cast<std::int64_t>(game.messageLog.entries().size()));
  for (const MessageLog::Entry& entry : game.messageLog.entries()) {
    hash.text(entry.text);
    hash.number(entry.height);
  }
  return hash.value();
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

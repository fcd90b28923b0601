#include "Keys.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "Entity.hpp"
#include "KeyToken.hpp"
#include "Keyboard.hpp"

namespace harness {
namespace {

// ---- Keys by name, as key scripts write them ---------------------------------------------------
// The names, the "<lt>" and "<#vk,c,flags>" forms and the modifier flags are the recordings'
// (recording/KeyToken.hpp); the harness adds <S-x>, <F1>...<F12> and <KP0>...<KP9>.

using recording::kNamedKeys;
using recording::NamedKey;

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

TCOD_key_t namedKey(std::string_view name) {
  for (const NamedKey& entry : kNamedKeys) {
    if (entry.name == name) return plainKey(entry.vk);
  }
  if (name == recording::kLessThanName) return characterKey('<');
  if (name.size() == 3 && name.substr(0, 2) == "S-") return shiftedKey(name[2]);
  if (name.size() >= 2 && name[0] == 'F') {
    if (const int n = smallNumber(name.substr(1), 12); n > 0) {
      return plainKey(static_cast<TCOD_keycode_t>(TCODK_F1 + n - 1));
    }
  }
  if (name.size() == 3 && name.substr(0, 2) == "KP" && name[2] >= '0' && name[2] <= '9') {
    return plainKey(static_cast<TCOD_keycode_t>(TCODK_KP0 + (name[2] - '0')));
  }
  if (!name.empty() && name[0] == '#') {
    if (const std::optional<TCOD_key_t> key = recording::readRawToken(name.substr(1))) return *key;
    throw std::invalid_argument("bad raw key <" + std::string(name) + ">");
  }
  throw std::invalid_argument("unknown key name <" + std::string(name) + "> in a key script");
}

bool sameKey(const TCOD_key_t& a, const TCOD_key_t& b) {
  return a.vk == b.vk && a.c == b.c && recording::flagsOf(a) == recording::flagsOf(b) &&
         std::strncmp(a.text, b.text, sizeof a.text) == 0;
}

}  // namespace

TCOD_key_t moveKey(int direction) {
  return characterKey(moveLetter(direction));
}

TCOD_key_t keyOf(const KeyBinding& binding) {
  return binding.vk == TCODK_CHAR ? characterKey(binding.c) : plainKey(binding.vk);
}

TCOD_key_t actionKey(Action action) {
  return keyOf(keyFor(action));
}

std::vector<TCOD_key_t> actionKeys(Action action) {
  std::vector<TCOD_key_t> keys;
  for (const KeyBinding& binding : normalKeys()) {
    if (binding.command.action == action) keys.push_back(keyOf(binding));
  }
  return keys;
}

Action actionOf(const TCOD_key_t& key) {
  for (const KeyBinding& binding : normalKeys()) {
    if (sameKey(key, keyOf(binding))) return binding.command.action;
  }
  return Action::None;
}

// ---- Key scripts -----------------------------------------------------------------------------

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
  if (key.c == '<' && sameKey(key, characterKey('<'))) {
    return "<" + std::string(recording::kLessThanName) + ">";
  }
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
  return recording::rawToken(key);
}

// ---- Key scripts fed to the game -------------------------------------------------------------

KeyScript::KeyScript(std::string_view script) {
  then(script);
  keyboard::setKeySource([this] { return next(); });
}

KeyScript::KeyScript(std::initializer_list<TCOD_key_t> list) : keys(list) {
  keyboard::setKeySource([this] { return next(); });
}

KeyScript::~KeyScript() {
  keyboard::setKeySource(nullptr);
}

KeyScript& KeyScript::then(std::string_view script) {
  for (const TCOD_key_t& k : parseKeyScript(script))
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
    keyboard::closeWindow();
  }
  return plainKey(TCODK_NONE);
}

// ---- Random keys -----------------------------------------------------------------------------

namespace {

// How often the fuzzer presses the keys of each action of the game's key table (in
// thousandths); a key is then drawn from the action's keys. An action without a row here (a new
// key command) gets kNewActionShare, so that no key of the table goes unpressed.
struct ActionWeight {
  Action action;
  int thousandths;
};
constexpr ActionWeight kActionWeights[] = {
    // action, share
    {Action::Move, 470},         {Action::Wait, 80},     {Action::PickUp, 80},
    {Action::OpenInventory, 60}, {Action::OpenDrop, 40}, {Action::GiveBatMeat, 25},
    {Action::Quit, 4},
};
constexpr int kNewActionShare = 20;
constexpr int kLetterShare = 120;  // a..z: the choices of the menus
constexpr int kLetterCount = 26;
constexpr int kAnyKeyShare = 121;  // any key code, character and modifiers

// The actions of the key table, each once, in table order.
std::vector<Action> tableActions() {
  std::vector<Action> actions;
  for (const KeyBinding& binding : normalKeys()) {
    const Action action = binding.command.action;
    if (std::find(actions.begin(), actions.end(), action) == actions.end()) {
      actions.push_back(action);
    }
  }
  return actions;
}

}  // namespace

int fuzzWeightOf(Action action) {
  for (const ActionWeight& weight : kActionWeights) {
    if (weight.action == action) return weight.thousandths;
  }
  const std::vector<Action> actions = tableActions();
  const bool inTable = std::find(actions.begin(), actions.end(), action) != actions.end();
  return inTable ? kNewActionShare : 0;
}

KeyFuzzer::KeyFuzzer(std::uint64_t seed) : generator(seed) {}

TCOD_key_t KeyFuzzer::next() {
  static const std::vector<Action> actions = tableActions();
  int total = kLetterShare + kAnyKeyShare;
  for (const Action action : actions)
    total += fuzzWeightOf(action);
  int roll = std::uniform_int_distribution<int>(0, total - 1)(generator);
  const auto below = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(generator);
  };
  for (const Action action : actions) {
    if (roll >= fuzzWeightOf(action)) {
      roll -= fuzzWeightOf(action);
      continue;
    }
    const std::vector<TCOD_key_t> keys = actionKeys(action);
    return keys[below(keys.size())];
  }
  if (roll < kLetterShare) return characterKey(static_cast<char>('a' + below(kLetterCount)));
  return anyKey();
}

// Anything at all: every key code, every character, every modifier, even a release.
TCOD_key_t KeyFuzzer::anyKey() {
  const auto vk = static_cast<TCOD_keycode_t>(
      std::uniform_int_distribution<int>(TCODK_NONE, TCODK_TEXT)(generator));
  const auto c = static_cast<char>(std::uniform_int_distribution<int>(-128, 127)(generator));
  const auto flags = static_cast<unsigned>(std::uniform_int_distribution<int>(0, 255)(generator));
  return recording::keyWithFlags(vk, c, flags);
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

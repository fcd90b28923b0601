#include "KeyToken.hpp"

#include "Keyboard.hpp"

namespace recording {
namespace {

constexpr int kLargestNumber = 100000;  // a raw token's numbers stop growing here

// The name of a key pressed without modifiers, when a key script reads that name back as
// exactly this key; otherwise an empty string.
std::string plainName(const TCOD_key_t& key) {
  for (const NamedKey& named : kNamedKeys) {
    if (named.vk == key.vk && keyboard::plainKey(named.vk).c == key.c)
      return "<" + std::string(named.name) + ">";
  }
  if (key.c <= ' ' || key.c > '~' || key.c == '#' || keyboard::characterKey(key.c).vk != key.vk)
    return "";
  return key.c == '<' ? "<" + std::string(kLessThanName) + ">" : std::string(1, key.c);
}

// The comma-separated whole numbers of `body`, each optionally negative, into `values`; false
// when `body` is not exactly that many of them.
bool readNumbers(std::string_view body, std::array<int, 3>& values) {
  std::size_t index = 0;
  bool negative = false;
  bool digits = false;
  values = {0, 0, 0};
  for (char c : body) {
    if (c == ',') {
      if (!digits || ++index >= values.size()) return false;
      negative = digits = false;
    } else if (c == '-' && !digits && !negative) {
      negative = true;
    } else if (c >= '0' && c <= '9' && values[index] < kLargestNumber &&
               values[index] > -kLargestNumber) {
      values[index] = values[index] * 10 + (negative ? -(c - '0') : (c - '0'));
      digits = true;
    } else {
      return false;
    }
  }
  return digits && index + 1 == values.size();
}

}  // namespace

unsigned flagsOf(const TCOD_key_t& key) {
  unsigned flags = key.pressed ? 0u : kReleasedFlag;
  for (std::size_t bit = 0; bit < kModifierFlags.size(); ++bit) {
    if (key.*kModifierFlags[bit]) flags |= 1u << bit;
  }
  return flags;
}

TCOD_key_t keyWithFlags(TCOD_keycode_t vk, char c, unsigned flags) {
  TCOD_key_t key{};
  key.vk = vk;
  key.c = c;
  for (std::size_t bit = 0; bit < kModifierFlags.size(); ++bit)
    key.*kModifierFlags[bit] = (flags & (1u << bit)) != 0;
  key.pressed = (flags & kReleasedFlag) == 0;
  return key;
}

std::string rawToken(const TCOD_key_t& key) {
  return "<#" + std::to_string(static_cast<int>(key.vk)) + "," + std::to_string(int{key.c}) + "," +
         std::to_string(flagsOf(key)) + ">";
}

std::optional<TCOD_key_t> readRawToken(std::string_view body) {
  std::array<int, 3> values{};
  if (!readNumbers(body, values) || values[0] < TCODK_NONE || values[0] > TCODK_TEXT ||
      values[1] < -128 || values[1] > 255 || values[2] < 0 || values[2] > 255) {
    return std::nullopt;
  }
  return keyWithFlags(static_cast<TCOD_keycode_t>(values[0]), static_cast<char>(values[1]),
                      static_cast<unsigned>(values[2]));
}

std::optional<TCOD_key_t> keyOfToken(std::string_view token) {
  if (token.size() == 1 && token[0] > ' ' && token[0] <= '~' && token[0] != '#' && token[0] != '<')
    return keyboard::characterKey(token[0]);
  if (token.size() < 3 || token.front() != '<' || token.back() != '>') return std::nullopt;
  const std::string_view name = token.substr(1, token.size() - 2);
  if (name == kLessThanName) return keyboard::characterKey('<');
  if (name[0] == '#') return readRawToken(name.substr(1));
  for (const NamedKey& named : kNamedKeys) {
    if (named.name == name) return keyboard::plainKey(named.vk);
  }
  return std::nullopt;
}

std::string keyToken(const TCOD_key_t& key) {
  if (flagsOf(key) == 0 && key.text[0] == '\0') {
    if (std::string name = plainName(key); !name.empty()) return name;
  }
  return rawToken(key);
}

}  // namespace recording

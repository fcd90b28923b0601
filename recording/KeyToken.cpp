#include "KeyToken.hpp"

#include <array>
#include <string_view>

#include "Keyboard.hpp"

namespace recording {
namespace {

// The keys without a character that have a name in a key script.
struct NamedKey {
  TCOD_keycode_t vk;
  std::string_view name;
};
constexpr std::array<NamedKey, 14> kNamedKeys = {{
    {TCODK_ESCAPE, "Esc"},
    {TCODK_ENTER, "Enter"},
    {TCODK_UP, "Up"},
    {TCODK_DOWN, "Down"},
    {TCODK_LEFT, "Left"},
    {TCODK_RIGHT, "Right"},
    {TCODK_HOME, "Home"},
    {TCODK_END, "End"},
    {TCODK_PAGEUP, "PgUp"},
    {TCODK_PAGEDOWN, "PgDn"},
    {TCODK_TAB, "Tab"},
    {TCODK_BACKSPACE, "Backspace"},
    {TCODK_DELETE, "Del"},
    {TCODK_SPACE, "Space"},
}};

// The modifiers in the order of the flag bits of "<#vk,c,flags>", from bit 0 up.
constexpr std::array<bool TCOD_key_t::*, 7> kModifiers = {
    &TCOD_key_t::shift, &TCOD_key_t::lctrl, &TCOD_key_t::rctrl, &TCOD_key_t::lalt,
    &TCOD_key_t::ralt,  &TCOD_key_t::lmeta, &TCOD_key_t::rmeta,
};
constexpr unsigned kReleased = 1u << kModifiers.size();

unsigned flagsOf(const TCOD_key_t& key) {
  unsigned flags = key.pressed ? 0u : kReleased;
  for (std::size_t bit = 0; bit < kModifiers.size(); ++bit) {
    if (key.*kModifiers[bit]) flags |= 1u << bit;
  }
  return flags;
}

// The name of a key pressed without modifiers, when a key script reads that name back as
// exactly this key; otherwise an empty string.
std::string plainName(const TCOD_key_t& key) {
  for (const NamedKey& named : kNamedKeys) {
    if (named.vk == key.vk && keyboard::plainKey(named.vk).c == key.c)
      return "<" + std::string(named.name) + ">";
  }
  if (key.c <= ' ' || key.c > '~' || key.c == '#' || keyboard::characterKey(key.c).vk != key.vk)
    return "";
  return key.c == '<' ? "<lt>" : std::string(1, key.c);
}

// "vk,c,flags" of a raw token, each a plain decimal number in its range, or nothing.
std::optional<TCOD_key_t> rawKey(std::string_view body) {
  long values[3] = {0, 0, 0};
  constexpr long kLowest[3] = {TCODK_NONE, -128, 0};
  constexpr long kHighest[3] = {TCODK_TEXT, 255, 255};
  std::size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    const bool negative = at < body.size() && body[at] == '-';
    if (negative) ++at;
    const std::size_t first = at;
    while (at < body.size() && body[at] >= '0' && body[at] <= '9' && at - first < 4)
      values[i] = values[i] * 10 + (body[at++] - '0');
    if (at == first) return std::nullopt;
    if (negative) values[i] = -values[i];
    if (values[i] < kLowest[i] || values[i] > kHighest[i]) return std::nullopt;
    if (i < 2 && (at >= body.size() || body[at++] != ',')) return std::nullopt;
  }
  if (at != body.size()) return std::nullopt;
  TCOD_key_t key{};
  key.vk = static_cast<TCOD_keycode_t>(values[0]);
  key.c = static_cast<char>(values[1]);
  const auto flags = static_cast<unsigned>(values[2]);
  for (std::size_t bit = 0; bit < kModifiers.size(); ++bit)
    key.*kModifiers[bit] = (flags & (1u << bit)) != 0;
  key.pressed = (flags & kReleased) == 0;
  return key;
}

}  // namespace

std::optional<TCOD_key_t> keyOfToken(std::string_view token) {
  if (token.size() == 1 && token[0] > ' ' && token[0] <= '~' && token[0] != '#' && token[0] != '<')
    return keyboard::characterKey(token[0]);
  if (token.size() < 3 || token.front() != '<' || token.back() != '>') return std::nullopt;
  const std::string_view name = token.substr(1, token.size() - 2);
  if (name == "lt") return keyboard::characterKey('<');
  if (name[0] == '#') return rawKey(name.substr(1));
  for (const NamedKey& named : kNamedKeys) {
    if (named.name == name) return keyboard::plainKey(named.vk);
  }
  return std::nullopt;
}

std::string keyToken(const TCOD_key_t& key) {
  if (flagsOf(key) == 0 && key.text[0] == '\0') {
    if (std::string name = plainName(key); !name.empty()) return name;
  }
  return "<#" + std::to_string(static_cast<int>(key.vk)) + "," + std::to_string(int{key.c}) + "," +
         std::to_string(flagsOf(key)) + ">";
}

}  // namespace recording

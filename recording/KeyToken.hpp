#pragma once

// The key-script vocabulary, in the one place that ships it: the names of keys, the "<#…>" form
// of any key with its modifier flags, and the token a recording writes for a key. The harness's
// key-script reader reads the same names and forms.

#include <libtcod.hpp>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace recording {

// A key without a character of its own, as a key script names it: {"Esc", TCODK_ESCAPE} is
// "<Esc>", read as the plain key (keyboard::plainKey). "<Space>" is the space bar; "<None>" the
// no-key answer of a closed window.
struct NamedKey {
  std::string_view name;
  TCOD_keycode_t vk;
};
inline constexpr std::array<NamedKey, 16> kNamedKeys = {{
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

// The name of the '<' key ("<lt>"), since '<' alone opens a name.
inline constexpr std::string_view kLessThanName = "lt";

// The modifiers in the order of the flag bits of "<#vk,c,flags>", from bit 0 up: Shift 1, left
// Ctrl 2, right Ctrl 4, left Alt 8, right Alt 16, left Meta 32, right Meta 64; the bit above
// them (128) marks a release.
inline constexpr std::array<bool TCOD_key_t::*, 7> kModifierFlags = {
    &TCOD_key_t::shift, &TCOD_key_t::lctrl, &TCOD_key_t::rctrl, &TCOD_key_t::lalt,
    &TCOD_key_t::ralt,  &TCOD_key_t::lmeta, &TCOD_key_t::rmeta,
};
inline constexpr unsigned kReleasedFlag = 1u << kModifierFlags.size();

// The modifier and release flags of `key`.
unsigned flagsOf(const TCOD_key_t& key);
// The key with code `vk`, character `c` and the flags of `flags` (flagsOf's inverse); no text.
TCOD_key_t keyWithFlags(TCOD_keycode_t vk, char c, unsigned flags);

// "<#vk,c,flags>": any key at all, by its code, character and flags (not its text).
std::string rawToken(const TCOD_key_t& key);
// The key of a raw token's body (what stands between "<#" and ">": "vk,c,flags"), or nothing
// when it is no such triple in range (vk a libtcod key code, c -128..255, flags 0..255).
std::optional<TCOD_key_t> readRawToken(std::string_view body);

// `key` as one key-script token: the character itself, a name in angle brackets ("<Esc>",
// "<lt>", "<Space>"), or the raw token for any other key, and for '#', which would begin a
// comment line. The key's text (libtcod's text input) is not kept: the game reads only the code,
// the character and the modifiers.
std::string keyToken(const TCOD_key_t& key);

// The key a token written by keyToken stands for (its inverse), or nothing for a token keyToken
// never writes. The replay of a recording reads its keys through this.
std::optional<TCOD_key_t> keyOfToken(std::string_view token);

}  // namespace recording

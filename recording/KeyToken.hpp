#pragma once

// A key as a recording writes it: one token of the key-script vocabulary that reads back as
// the very same key.

#include <libtcod.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace recording {

// `key` as one key-script token: the character itself, a name in angle brackets ("<Esc>",
// "<lt>", "<Space>"), or "<#vk,c,flags>" (flags: Shift 1, left Ctrl 2, right Ctrl 4, left Alt
// 8, right Alt 16, left Meta 32, right Meta 64, released 128) for any other key, and for '#',
// which would begin a comment line. The key's text (libtcod's text input) is not kept: the game
// reads only the code, the character and the modifiers.
std::string keyToken(const TCOD_key_t& key);

// The key a token written by keyToken stands for (its inverse), or nothing for a token keyToken
// never writes. The replay of a recording reads its keys through this.
std::optional<TCOD_key_t> keyOfToken(std::string_view token);

}  // namespace recording

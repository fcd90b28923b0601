#pragma once

// What the game tells the server for its recording of the game: each key it reads, written as
// a key script names it, and its turns, kills and state whenever it waits for a key.

#include <libtcod.hpp>

#include <string>

class Game;

namespace pipefront {

// `key` (one the pipe makes from a key message) as one key-script token that reads back as the
// same key: the character itself, a name in angle brackets ("<Esc>", "<lt>", "<Space>"), or
// "<#vk,c,flags>" for a key typed with Shift and for '#', which would begin a comment line.
std::string keyToken(const TCOD_key_t& key);

// The 'R' message of `key`.
std::string keyReadMessage(const TCOD_key_t& key);

// The 'S' message of `game` (nullptr on the title screen).
std::string statusMessage(const Game* game);

}  // namespace pipefront

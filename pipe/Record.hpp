#pragma once

// What the game tells the server for its recording of the game: each key it reads, written as
// a key script names it, and its turns, kills and state whenever it waits for a key.

#include <libtcod.hpp>

#include <string>

class Game;

namespace pipefront {

// The 'R' message of `key`: 'R' and the key's token (recording::keyToken).
std::string keyReadMessage(const TCOD_key_t& key);

// The 'S' message of `game` (nullptr on the title screen).
std::string statusMessage(const Game* game);

}  // namespace pipefront

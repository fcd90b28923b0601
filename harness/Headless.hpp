#pragma once

// The state of a game run without a player: a stable hash of everything that decides how it
// goes on. Shared by the tests, the play driver and the golden catalog.

#include <cstdint>

class Game;

namespace harness {

// A stable 64-bit FNV-1a hash of everything that decides how `game` goes on: turn, kills,
// story stage, mode, the player's values, inventory and equipment, every registered entity's
// id, kind, position, hit points and flags, the explored flags of the level, and the texts of
// the message log. Equal games give equal hashes on every machine.
std::uint64_t stateHash(const Game& game);

}  // namespace harness

#pragma once

// The rules a game in progress must keep after every key, checked by the play driver, the bot
// and the tests.

#include <string>

class Game;

namespace harness {

// Checks `game` and returns an empty string when every rule holds; otherwise one line per
// broken rule, naming the entity (id, what it is, where) or the tile (column, row):
//   - every entity standing on the level is listed exactly once, in the list of the tile at its
//     position, and every listed entity stands where its tile is;
//   - at most one blocking entity stands on a tile;
//   - carried items are at (-1, -1) and in no tile list; the inventory holds no item twice;
//   - every registry entry is under its entity's own id and is an entity that still exists:
//     one standing on a tile or carried by the player (so never a destroyed one);
//   - every equipment entry is an inventory item that is `equipped` and fits that slot, and
//     every equipped inventory item is the one in its slot;
//   - the player's `hunger` is 0 or more;
//   - every creature, the player included, stands on a walkable cell inside the level, and a
//     creature's target is nothing or a registered entity.
// Reads only; never dereferences a pointer before it is known to name a live entity.
std::string checkInvariants(const Game& game);

}  // namespace harness

#pragma once

// A game's whole state as text a person reads in a diff, one fact per line, and the state hash
// taken over the same facts. The play driver writes both after every key; the golden catalog
// keeps them, so a changed screen comes with the first fact that changed.

#include <cstdint>
#include <map>
#include <string>

class Game;

namespace harness {

// Every fact of `game`, one per line as "<subject> <field>: <value>", in a fixed order: the
// game's counters, the player's hunger, inventory and equipment, every registered entity with
// all of its fields (for a creature: kind, place, hit points, combat values, anger, target,
// energy), the level's explored rows and what lies on each cell, and the message log. Texts
// are written with bytes below 32, above 126 and the backslash as \xNN, so a line stays one
// line. `randDraws` (the rand() draws of the run so far) is written when it is not negative.
std::string stateText(const Game& game, long long randDraws = -1);

// A stable 64-bit FNV-1a hash of the facts of stateText that decide how `game` goes on: all of
// them but the rand() draws and the values a creature takes from its kind's row (name, speed,
// sight, aggression, flight threshold, base damage, damage range, accuracy) and the item's
// flags that follow from its kind. Equal games give equal hashes on every machine.
std::uint64_t stateHash(const Game& game);

// Writes a run of states as a catalog: each state under a header line ("== <header>"), the
// first in full, every later one as the facts that changed since the one before ("(gone)
// <name>" for a fact that is no longer there), so a long run stays small and a diff of two
// catalogs shows what a change did.
class StateCatalog {
 public:
  // The catalog text for the state `text` (as stateText writes it) under `header`.
  std::string add(const std::string& header, const std::string& text);

 private:
  std::map<std::string, std::string> facts;  // the last state: value by fact name
};

}  // namespace harness

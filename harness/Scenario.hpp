#pragma once

// Small hand-drawn levels for scenario tests: a few lines of text become the level of a real
// Game, with the player and creatures standing where the drawing puts them.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Game.hpp"

class NPC;
class Item;

namespace harness {

// The state both random generators are put in once a drawing is a level: srand(kScenarioSeed)
// for rand(), and libtcod's default generator as a fresh TCODRandom(kScenarioSeed). So what a
// scenario does next depends only on its drawing and its keys, never on the tests run before.
constexpr unsigned kScenarioSeed = 1u;

// A Game whose random cave and population are replaced by `rows`, drawn with its top-left
// character on cell (left, top) of the level. Every cell outside the drawing is wall.
//   '#' wall   '~' deep water   ',' shallow water   '.' or ' ' floor
//   '@' the player (exactly one)   'b' bat   's' snake   'B' bear   'k' kitten (on floor)
//   '*' a small stone lying on floor
// Creatures and stones are registered in reading order (row by row, left to right), so their
// ids follow that order. The field of view is computed from the player with radius 5 and
// nothing is explored yet. The log holds the wake-up message; turnCount and killCount are 0.
// Both random generators are then in their fixed state (kScenarioSeed). Throws
// std::invalid_argument when the drawing does not fit the level at (left, top).
std::unique_ptr<Game> gameFromDrawing(const std::vector<std::string>& rows, int left = 0,
                                      int top = 0);

// Presses the keys of `script` (a key script, as KeyScript takes) one at a time, one
// Game::update each, as a player would; returns the last update's result. Throws
// std::logic_error (which fails the test) when an update waited for more keys than the script
// had.
bool press(Game& game, std::string_view script);

// The creatures of `game` other than the player, in id order.
std::vector<NPC*> creaturesOf(const Game& game);
// The first of them (in id order) named `name` ("bear"), or nullptr.
NPC* creatureNamed(const Game& game, const std::string& name);

// The newest message of the log ("" when it is empty), and all of them newest first.
std::string lastMessage(const Game& game);
std::vector<std::string> messages(const Game& game);

}  // namespace harness

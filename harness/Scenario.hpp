#pragma once

// Setting up and driving a game for a test: pinning its randomness, small hand-drawn levels (a
// few lines of text become the level of a real Game, with the player and creatures standing
// where the drawing puts them), pressing keys, and reading the game's creatures, items and
// messages back.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <libtcod.hpp>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Game.hpp"

class Entity;
class NPC;
class Item;

namespace harness {

// ---- Randomness ------------------------------------------------------------------------------

// Puts libtcod's default generator (which splits every new cave) into the state of a freshly
// built TCODRandom(seed). With rand() seeded by the App, a game then depends only on `seed`
// and the keys.
void fixPartition(std::uint32_t seed);

// How many times `action` calls rand(). Leaves rand() in the state the action left it in,
// starting from srand(seed). Throws std::runtime_error if the action draws more than `limit`
// numbers (or reseeds the generator).
std::size_t countRandDraws(const std::function<void()>& action, unsigned seed = 20240601u,
                           std::size_t limit = 20'000'000);

// The first seed, from `from` on, whose first rand() after srand(seed) satisfies `wanted`.
// Leaves rand() seeded with it and one number drawn.
unsigned seedWhoseFirstDraw(const std::function<bool(int)>& wanted, unsigned from = 1);

// ---- Levels ----------------------------------------------------------------------------------

// The state both random generators are put in once a drawing is a level: srand(kScenarioSeed)
// for rand(), and libtcod's default generator as a fresh TCODRandom(kScenarioSeed). So what a
// scenario does next depends only on its drawing and its keys, never on the tests run before.
constexpr unsigned kScenarioSeed = 1u;

// A Game whose random cave and population are replaced by `rows`, drawn with its top-left
// character on cell (left, top) of the level. Every cell outside the drawing is wall.
//   '#' wall   '~' deep water   ',' shallow water   '.' or ' ' floor
//   '@' the player (exactly one)   a creature's glyph (its kind's row of kCreatureKinds: 'b' a
//   bat, 'B' a bear, ...) for that creature on floor
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
// had, or when the run ended (an update returned false) before the last key.
bool press(Game& game, std::string_view script);
// The same for a single key.
bool press(Game& game, const TCOD_key_t& key);

// A new item of `kind` made straight into the player's inventory, as butchering or the Home key
// makes them: at (-1, -1), on no tile, never registered.
Item* carry(Game& game, int kind);
// Whether `entity` is one of the registered entities of `game`. Compares addresses only, so it
// may be asked about an entity that has been destroyed.
bool isRegistered(const Game& game, const Entity* entity);

// ---- Test names ------------------------------------------------------------------------------

// `words` as the name of one case of a parameterised test: letters and digits kept, every run of
// anything else one '_' ("after death" gives "after_death"), so that ctest can run each case by
// a readable name.
std::string caseName(std::string_view words);

// ---- Reading the game back -------------------------------------------------------------------

// The creatures of `game` other than the player, in id order.
std::vector<NPC*> creaturesOf(const Game& game);
// The first of them (in id order) named `name` ("bear"), or nullptr.
NPC* creatureNamed(const Game& game, const std::string& name);

// The newest message of the log ("" when it is empty), and all of them newest first.
std::string lastMessage(const Game& game);
std::vector<std::string> messages(const Game& game);

}  // namespace harness

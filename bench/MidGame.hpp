#pragma once

// Fixtures shared by the benchmark programs: scripted keys, a reproducible cave, and a game in
// mid-play with hunters closing in on the player.

#include <libtcod.hpp>

#include <cstdint>
#include <memory>
#include <vector>

#include "Game.hpp"

class NPC;

namespace bench {

// Puts libtcod's default generator (which splits the cave) in the state of a fresh
// TCODRandom(seed) and seeds rand() with `seed`, so that the next Game is always the same cave
// with the same creatures.
void fixRandomness(std::uint32_t seed);

// From now on the game's key wait returns `key`, over and over, without touching SDL.
void holdKey(TCOD_key_t key);

// A game after a few hundred turns of exploring: a stretch of the cave explored, creatures
// killed and their corpses lying about, and then five creatures placed in view around the
// player, all of them hunting it, with items lying in view and under the player.
class MidGame {
 public:
  static constexpr std::uint32_t kSeed = 7;
  static constexpr int kHunterCount = 5;

  MidGame();

  // Puts the hunters back where they were placed (if their place is free), angry at the player
  // with a fresh energy store, and heals the player, so that every turn measured starts alike.
  void resetHunters();

  std::unique_ptr<Game> game;
  std::vector<NPC*> hunters;

 private:
  struct Place {
    int x;
    int y;
  };

  void explore();
  void placeHunters();
  void placeItems();
  std::vector<Place> freeCellsAroundPlayer() const;

  std::vector<Place> starts;
};

}  // namespace bench

#pragma once

// A player that needs no person: it looks at a game in progress and answers with the next key.
// It reads the Game object, not the screen, and knows the game's rules from its headers.

#include <libtcod.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BoutPlan.hpp"

class Game;
class Item;
class NPC;
class Player;

// One Autoplayer plays one game: its memory belongs to the level it first looked at.
//
// Plays Vesperdeep to its end through the game's own keys: the moves (h j k l y u b n), "."
// (wait), "g" (pick up), "i" and "d" with the inventory letters, and Escape. It never changes
// the game and never presses Home (the free bat meat). Its job is to reach the end screen, so
// that every game it plays runs through the late game; it wins most caves, not all.
//
// What it reads of the Game, all of it without changing anything:
// - what the screen shows: the explored cells and their terrain (Map, Tile), which cells are in
//   view, the creatures in view (Map::visibleEntities) with their kind, position and whether
//   they are angry or fleeing, the first item lying on each cell in view (the screen shows one
//   glyph a cell), the inventory and the worn gear with each piece's bonus, the player's
//   position, hit points, maximum, armour and damage, and which menu screen is open (Game::mode);
// - more exactly than the screen shows: the player's hunger as a number (the screen shows four
//   bands) and each creature's hit points (the screen shows a colour between red and green);
// - what no screen shows: the game's turn counter (to time its blows by a bear's rest), each
//   creature's id (to tell creatures of a kind apart) and dead flag, the player's accuracy,
//   base damage and damage range, the flags an item's kind gives it (eatable, butcherable,
//   craftable, its slot), and whether a creature stands on a cell where it saw a corpse or a
//   stone lying, in view or not.
// It takes the rules from the game's headers, not from what it sees: a creature's combat
// values, speed, sight radius and aggression from its kind's row of kCreatureKinds, the
// energy an action costs and the roll to hit (NPC), the nutrition of foods and which corpses
// yield anything (Item), the pick-up, healing and starvation limits (Player). It does not read
// a creature's target, energy or counters. It remembers where it last saw creatures and items
// and when it last saw each cell.
//
// Strategy, in order of urgency: read the note as soon as it arrives (that ends the story);
// eat when starving; fight back whatever stands beside the player, the one that does the most
// harm for the time it takes to fell first; meet a bear with a bout timed by its rests (it
// acts four turns in five, see BoutPlan) while the ground and the player's health allow, and
// otherwise get away from it (bears are slower than the player); when nothing is hunting it,
// butcher corpses, eat, craft pelts and stones, wear the best piece in each slot and drop what
// it has outgrown; pick up corpses and stones; rest when hurt while hunger still allows
// healing; hunt every creature it is unlikely to lose to (bats, the kitten; snakes once its
// odds are good; bears only when the way on lies past one); explore toward the nearest
// unexplored ground, away from bears and from snakes it would rather not meet; and once the
// cave is explored, walk to where creatures were last seen and then to the cells it has not
// seen for longest, to find the bats that wander off.
class Autoplayer {
 public:
  // The next key for `game`, a game in progress: the player is alive and the end screen is
  // not shown. Only reads `game`.
  TCOD_key_t nextKey(const Game& game);

  // A few words on why the last key was chosen ("explore", "fight bat", "eat"), for traces.
  const std::string& intent() const { return lastIntent; }

 private:
  // A creature the bot saw, remembered by the id the game gives it.
  struct Sighting {
    int x;
    int y;
    int kind;
    int hp;
    int turn;  // when it was last seen
  };

  // Where the bot is walking to when it is not after a creature or an item.
  struct Goal {
    enum Purpose { None, Explore, Patrol } purpose = None;
    int cell = -1;
  };

  // The bears close enough to matter, and the creature at the player's side to strike first.
  struct Threats {
    std::vector<const NPC*> bears;
    const NPC* victim = nullptr;
  };

  void observe(const Game& game);
  Threats threatsAround(const Game& game) const;

  std::optional<TCOD_key_t> menuKey(const Game& game);
  std::optional<TCOD_key_t> inventoryKey(const Game& game);
  std::optional<TCOD_key_t> dropKey(const Game& game);
  std::optional<TCOD_key_t> fightKey(const Game& game);
  std::optional<TCOD_key_t> bearKey(const Game& game, const Threats& threats);
  std::optional<TCOD_key_t> boutKey(const Game& game, const NPC& bear, bool getAway);
  std::optional<TCOD_key_t> closeBoutKey(const Game& game, const NPC& bear, bool getAway);
  bot::BoutPlan::Move planBout(const Game& game, const NPC& bear, bool& getAway) const;
  TCOD_key_t pressInBout(const TCOD_key_t& key, const char* why, const NPC& bear,
                         const bot::BoutPlan::Move& move);
  std::optional<TCOD_key_t> approachBearKey(const Game& game, const NPC& bear);
  TCOD_key_t attack(const Game& game, const NPC& creature);
  std::optional<TCOD_key_t> fleeKey(const Game& game, const std::vector<const NPC*>& from);
  std::optional<TCOD_key_t> upkeepKey(const Game& game);
  std::optional<TCOD_key_t> huntKey(const Game& game);
  std::optional<TCOD_key_t> healKey(const Game& game);
  std::optional<TCOD_key_t> travelKey(const Game& game);
  std::optional<TCOD_key_t> fetchKey(const Game& game, const bot::Walks& walks);
  std::optional<TCOD_key_t> exploreKey(const Game& game, const bot::Walks& walks);
  std::optional<TCOD_key_t> revisitKey(const Game& game, const bot::Walks& walks);
  std::optional<TCOD_key_t> patrolKey(const Game& game, const bot::Walks& walks);

  // Whether the player should take on `creature` now, given its armour, weapon and health.
  bool canBeat(const Player& player, const NPC& creature) const;
  // Creatures in view that are not the player, in screen order.
  std::vector<const NPC*> creaturesInView(const Game& game) const;
  // True when nothing in view is hunting the player or could start to.
  bool isQuiet(const Game& game) const;
  // True when no creature in view is within two steps of the player.
  bool nothingAtHand(const Game& game) const;

  // Whether unexplored ground lies next to `cell`.
  bool isFrontier(const Game& game, int cell) const;
  // The reachable cell nearest the player for which `wanted` holds, or -1.
  template <typename Wanted>
  static int nearest(const bot::Walks& walks, Wanted&& wanted);
  // The shortest walks from the player over cells it knows (and unexplored cells too when
  // `guessUnknown`), around the cells of `avoid`.
  bot::Walks walksFrom(const Game& game, const bot::Grid<bool>& avoid, bool guessUnknown) const;
  bot::Grid<bool> cellsToAvoid(const Game& game) const;
  // A grid of the level's size with no cell marked.
  bot::Grid<bool> nothingToAvoid() const;
  std::optional<TCOD_key_t> stepToward(const bot::Walks& walks, int cell, const char* why);
  TCOD_key_t press(const TCOD_key_t& key, const char* why);

  bot::Grid<int> lastSeen;  // turn each cell was last in view; -1 never; empty until the first look
  std::map<std::uint32_t, Sighting> sightings;
  bot::Grid<bool> wantedItemAt;  // a corpse or stone was seen lying there
  Goal goal;
  bool resting = false;       // resting until the hit points are back up
  bool seekingBears = false;  // the way on is past a bear: go and fight it
  int lastBoutTurn = -10;     // the last turn the bot spent on a bout with a bear
  int lastStrike = 0;         // the last turn it struck the bear in that bout
  int boutPausedUntil = 0;    // bouts are broken off until this turn
  std::string lastIntent;
};

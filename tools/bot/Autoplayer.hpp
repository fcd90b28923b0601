#pragma once

// A player that needs no person: it looks at a game in progress the way a person looks at the
// screen and answers with the one key a person would press next.

#include <libtcod.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

class Game;
class Item;
class NPC;
class Player;

// One Autoplayer plays one game: its memory belongs to the level it first looked at.
//
// Plays Vesperdeep to its end through the game's own keys: the moves (h j k l y u b n), "."
// (wait), "g" (pick up), "i" and "d" with the inventory letters, and Escape. It never changes
// the game and never presses Home (the free bat meat).
//
// It reads the Game object, not the screen. Besides what the screen shows (the explored cells
// and their terrain, the creatures and items on the cells in view, the inventory and worn
// gear with each piece's bonus) it reads what no screen shows: the player's exact hit points,
// maximum and hunger, the game's turn counter, and for every creature in view its exact hit
// points, whom it targets, whether it is angry, aggressive or fleeing, and its hidden combat
// values (accuracy, weapon damage, speed, actions per turn, flee threshold, sight radius). It
// remembers where it last saw creatures and items and when it last saw each cell.
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

  // Distances and first steps of the shortest walks from the player over cells it knows.
  struct Walks {
    std::vector<int> distance;   // -1 where no known walk reaches
    std::vector<int> firstStep;  // direction of the walk's first step, -1 at the start
  };

  void observe(const Game& game);

  std::optional<TCOD_key_t> menuKey(const Game& game);
  std::optional<TCOD_key_t> inventoryKey(const Game& game);
  std::optional<TCOD_key_t> dropKey(const Game& game);
  std::optional<TCOD_key_t> fightKey(const Game& game);
  std::optional<TCOD_key_t> boutKey(const Game& game, const NPC& bear, bool getAway);
  TCOD_key_t attack(const Game& game, const NPC& creature);
  std::optional<TCOD_key_t> fleeKey(const Game& game, const std::vector<const NPC*>& from);
  std::optional<TCOD_key_t> upkeepKey(const Game& game);
  std::optional<TCOD_key_t> huntKey(const Game& game);
  std::optional<TCOD_key_t> healKey(const Game& game);
  std::optional<TCOD_key_t> travelKey(const Game& game);

  // Whether the player should take on `creature` now, given its armour, weapon and health.
  bool canBeat(const Player& player, const NPC& creature) const;
  // Creatures in view that are not the player, in screen order.
  std::vector<const NPC*> creaturesInView(const Game& game) const;
  // True when nothing in view is hunting the player or could start to.
  bool isQuiet(const Game& game) const;
  // True when no creature in view is within two steps of the player.
  bool nothingAtHand(const Game& game) const;

  Walks walksFrom(const Game& game, const std::vector<bool>& avoid, bool guessUnknown) const;
  std::vector<bool> cellsToAvoid(const Game& game) const;
  std::optional<TCOD_key_t> stepToward(const Walks& walks, int cell, const char* why);
  TCOD_key_t press(const TCOD_key_t& key, const char* why);

  int width = 0;  // of the level; 0 until the first look at it
  int height = 0;
  std::vector<int> lastSeen;  // turn each cell was last in view; -1 never
  std::map<std::uint32_t, Sighting> sightings;
  std::vector<bool> wantedItemAt;  // a corpse or stone was seen lying there
  Goal goal;
  bool resting = false;       // resting until the hit points are back up
  bool seekingBears = false;  // the way on is past a bear: go and fight it
  int lastBoutTurn = -10;     // the last turn the bot spent on a bout with a bear
  int lastStrike = 0;         // the last turn it struck the bear in that bout
  int boutPausedUntil = 0;    // bouts are broken off until this turn
  std::string lastIntent;
};

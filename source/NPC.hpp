#pragma once

#include <string>

#include "Entity.hpp"
#include "Item.hpp"

// Creature kinds; 0 is the player.
enum CreatureKind : unsigned char {
  PlayerKind = 0,
  Bat = 2,
  Snake = 3,
  Bear = 5,
  Kitten = 6,
};

// The values a creature of one kind starts with, and the corpse it leaves.
struct CreatureStats {
  unsigned char kind;
  const char* name;
  signed char glyph;
  int maxHp;
  int speed;
  int sightRadius;
  bool aggressive;
  int fleeThreshold;
  int baseDamage;
  int damageRange;
  int accuracy;
  int corpse;
};

inline constexpr CreatureStats kCreatureKinds[] = {
    // kind, name, glyph, hp, speed, sight, aggressive, flee at, base dmg, dmg range, accuracy,
    // corpse
    {Bat, "bat", 'b', 5, 14, 6, false, 1, 0, 2, 8, BatCorpse},
    {Snake, "snake", 's', 7, 11, 4, true, 2, 2, 2, 9, SnakeCorpse},
    {Bear, "bear", 'B', 20, 8, 3, true, 4, 5, 3, 7, BearCorpse},
    {Kitten, "kitten", 'k', 1, 4, 0, false, 1, 0, 0, 0, KittenCorpse},
};

// The row of `kind`, or nullptr for the player's kind (and any other).
constexpr const CreatureStats* statsOf(unsigned char kind) {
  for (const CreatureStats& stats : kCreatureKinds) {
    if (stats.kind == kind) return &stats;
  }
  return nullptr;
}
// Whether `kind` has its row.
constexpr bool hasStats(unsigned char kind) {
  for (const CreatureStats& stats : kCreatureKinds) {
    if (stats.kind == kind) return true;
  }
  return false;
}
static_assert(hasStats(Bat) && hasStats(Snake) && hasStats(Bear) && hasStats(Kitten),
              "every creature kind of the cave has its row");

class NPC;

// Composes and logs the lines of one attack of `attacker` on `defender`; `damage` is -1 for a
// miss, otherwise the damage dealt.
void reportAttack(MessageLog* messageLog, const NPC* attacker, const NPC* defender, int damage);

// A creature of the cave, and the base of the player.
class NPC : public Entity {
 public:
  static constexpr int kActionCost = 10;    // energy an action takes; it needs more in store
  static constexpr int kHitRollBound = 10;  // accuracy is in tenths: a hit when a roll is below it
  static constexpr int kNoGear = 1;         // armor and weaponDamage bound without gear: adds 0

  // A blocking creature with the values of `kind` (bat, snake, bear or kitten); any other kind
  // sets only the common values and leaves the rest to the subclass.
  NPC(MessageLog* messageLog, Map* map, int x, int y, unsigned char kind);
  ~NPC() override = default;

  // Leaves the creature's corpse on its cell; the player instead logs its death.
  void die() override;
  // Calm-down, then as many actions as the energy store allows.
  void takeTurn() override;
  // The attack on `other`, when it stands on the other side.
  void interact(Entity* other) override;

  unsigned char kind;
  Entity* target = nullptr;  // hunted or fled from; not owned
  std::string name;
  int armor = kNoGear;
  int weaponDamage = kNoGear;
  bool isPlayer = false;
  bool aggressive = false;
  bool angry = false;
  int turnsSinceAttack = 0;
  bool fleeing = false;
  int fleeCounter = 0;
  int sightRadius = 0;
  int maxHp = 0;
  int hp = 0;
  int fleeThreshold = 0;
  int speed = 0;
  int energy = 0;
  int baseDamage = 0;
  int damageRange = 0;
  int accuracy = 0;

 private:
  void act();
  // One fleeing step; returns false when the flight is over (the caller then checks for a new one).
  bool flee();
  void hunt();
  bool scanForPrey();
  void wander();
  void endFlight();
  void checkFlight();
};

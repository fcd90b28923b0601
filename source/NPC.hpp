#pragma once

#include <string>

#include "Entity.hpp"

// Creature kinds; 0 is the player.
enum CreatureKind : unsigned char {
  PlayerKind = 0,
  Bat = 2,
  Snake = 3,
  Bear = 5,
  Kitten = 6,
};

class NPC;

// Composes and logs the lines of one attack of `attacker` on `defender`; `damage` is -1 for a
// miss, otherwise the damage dealt.
void reportAttack(MessageLog* messageLog, const NPC* attacker, const NPC* defender, int damage);

// A creature of the cave, and the base of the player.
class NPC : public Entity {
 public:
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
  int armor = 1;
  int weaponDamage = 1;
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

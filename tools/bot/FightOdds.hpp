#pragma once

// The numbers behind a fight, worked out from the game's combat rules: what a blow does on
// average, how often a creature acts, and how likely the player is to lose a fight. The bot must
// not roll the game's rand() to find out, so the attack (NPC::interact) and the energy schedule
// (NPC::takeTurn) are worked out here again from the game's numbers (NPC.hpp); its tests hold
// both against the game's own.

#include <utility>
#include <vector>

class NPC;

namespace bot {

// The numbers of one side of a fight.
struct Fighter {
  int hp;
  int accuracy;  // in tenths
  int baseDamage;
  int damageRange;
  int weaponDamage;
  int armour;
  double actionsPerTurn;
  int fleeThreshold;
};

// The player, with its own values and gear, acts once a turn. A creature fights with the values
// of its kind (kCreatureKinds) and its hit points now, and acts as often as its speed allows on
// average.
Fighter fighterOf(const NPC& creature);

// The chances of each damage one blow of `attacker` on `defender` does, a miss counted as
// damage 0, in ascending order of damage: max(0, base + r1 + r2 - r3) over the three damage
// rolls, after the roll to hit.
std::vector<std::pair<int, double>> blowOutcomes(const Fighter& attacker, const Fighter& defender);

// What `attacker` takes off `defender` in a turn, on average.
double damagePerTurn(const Fighter& attacker, const Fighter& defender);

// The chance that the player dies fighting `creature` toe to toe from here. Each turn the
// player strikes first; then the creature, if alive, acts (once, or twice as often as its
// speed allows) and runs once its hit points are down to its threshold, after the blow it
// deals then.
double lossChance(const Fighter& player, const Fighter& creature);

// How many times a creature of `speed` that has been in the cave since the game began acts in
// turn `turn` (counting from 1): each turn adds its speed to its store, and each action costs 10
// and needs more than 10 in store. The rhythm is the same for every creature of that speed: a
// bear (speed 8) rests on turns 1, 5, 10, 15, ... and acts on all the others.
int actionsInTurn(int speed, int turn);

}  // namespace bot

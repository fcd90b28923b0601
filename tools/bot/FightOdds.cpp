#include "FightOdds.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "NPC.hpp"

namespace bot {

std::vector<std::pair<int, double>> blowOutcomes(const Fighter& attacker, const Fighter& defender) {
  // A roll with a bound below 1 yields 0, as a bound of 1 does.
  const int range = std::max(attacker.damageRange, 1);
  const int weapon = std::max(attacker.weaponDamage, 1);
  const int armour = std::max(defender.armour, 1);
  const double hit = std::clamp(attacker.accuracy, 0, NPC::kHitRollBound) /
                     static_cast<double>(NPC::kHitRollBound);
  std::map<int, double> chances{{0, 1.0 - hit}};
  const double each = hit / (range * weapon * armour);
  for (int r1 = 0; r1 < range; ++r1) {
    for (int r2 = 0; r2 < weapon; ++r2) {
      for (int r3 = 0; r3 < armour; ++r3) {
        chances[std::max(0, attacker.baseDamage + r1 + r2 - r3)] += each;
      }
    }
  }
  return {chances.begin(), chances.end()};
}

namespace {

// The chance that the player dies fighting `creature` toe to toe from here. Each turn the
// player strikes first; then the creature, if alive, acts as often as its speed allows and runs
// once its hit points are down to its threshold (after the blow it deals then).
class FightOdds {
 public:
  FightOdds(const Fighter& player, const Fighter& creature)
      : playerHp(player.hp),
        creature(creature),
        strikes(blowOutcomes(player, creature)),
        blows(blowOutcomes(creature, player)) {
    const double whole = std::floor(creature.actionsPerTurn);
    const double extra = creature.actionsPerTurn - whole;
    actions.emplace_back(static_cast<int>(whole), 1.0 - extra);
    if (extra > 0.0) actions.emplace_back(static_cast<int>(whole) + 1, extra);
  }

  double lossChance() { return loss(playerHp, creature.hp); }

 private:
  double loss(int hp, int foeHp) {
    if (hp <= 0) return 1.0;
    if (foeHp <= creature.fleeThreshold || creature.accuracy <= 0) return 0.0;
    const int key = hp * 1000 + foeHp;
    if (const auto found = memo.find(key); found != memo.end()) return found->second;
    // One turn, split into what loses the fight, what changes nothing and what leads on.
    double lost = 0.0;
    double same = 0.0;
    double onward = 0.0;
    for (const auto& [dealt, strikeChance] : strikes) {
      const int foeLeft = foeHp - dealt;
      if (foeLeft <= 0) continue;  // slain
      const bool runs = foeLeft <= creature.fleeThreshold;
      for (const auto& [count, countChance] : actions) {
        for (const auto& [after, chance] : hpAfter(hp, runs ? std::min(count, 1) : count)) {
          const double whole = strikeChance * countChance * chance;
          if (after <= 0) {
            lost += whole;
          } else if (runs) {
            continue;  // it runs: the fight is won
          } else if (after == hp && foeLeft == foeHp) {
            same += whole;
          } else {
            onward += whole * loss(after, foeLeft);
          }
        }
      }
    }
    const double result = same < 1.0 ? (lost + onward) / (1.0 - same) : 0.0;
    memo.emplace(key, result);
    return result;
  }

  // The player's hit points after `count` blows of the creature, with their chances.
  std::map<int, double> hpAfter(int hp, int count) const {
    std::map<int, double> left{{hp, 1.0}};
    for (int blow = 0; blow < count; ++blow) {
      std::map<int, double> next;
      for (const auto& [before, chance] : left) {
        if (before <= 0) {
          next[before] += chance;
          continue;
        }
        for (const auto& [taken, blowChance] : blows)
          next[before - taken] += chance * blowChance;
      }
      left.swap(next);
    }
    return left;
  }

  int playerHp;
  Fighter creature;
  std::vector<std::pair<int, double>> strikes;  // the player's blows on the creature
  std::vector<std::pair<int, double>> blows;    // the creature's blows on the player
  std::vector<std::pair<int, double>> actions;  // how often the creature acts in a turn
  std::map<int, double> memo;
};

}  // namespace

Fighter fighterOf(const NPC& creature) {
  if (creature.isPlayer) {
    return {creature.hp,
            creature.accuracy,
            creature.baseDamage,
            creature.damageRange,
            creature.weaponDamage,
            creature.armor,
            1.0,
            0};
  }
  const CreatureStats* kind = statsOf(creature.kind);
  if (kind == nullptr) return {creature.hp, 0, 0, 0, NPC::kNoGear, NPC::kNoGear, 0.0, 0};
  return {creature.hp,
          kind->accuracy,
          kind->baseDamage,
          kind->damageRange,
          NPC::kNoGear,
          NPC::kNoGear,
          kind->speed / static_cast<double>(NPC::kActionCost),
          kind->fleeThreshold};
}

double damagePerTurn(const Fighter& attacker, const Fighter& defender) {
  double mean = 0.0;
  for (const auto& [damage, chance] : blowOutcomes(attacker, defender))
    mean += damage * chance;
  return mean * attacker.actionsPerTurn;
}

double lossChance(const Fighter& player, const Fighter& creature) {
  return FightOdds(player, creature).lossChance();
}

int actionsInTurn(int speed, int turn) {
  int energy = 0;
  int actions = 0;
  for (int t = 1; t <= turn; ++t) {
    energy += speed;
    actions = 0;
    while (energy > NPC::kActionCost) {
      energy -= NPC::kActionCost;
      ++actions;
    }
  }
  return actions;
}

}  // namespace bot

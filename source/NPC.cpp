#include "NPC.hpp"

#include <cstdlib>
#include <string>

#include "Item.hpp"
#include "Map.hpp"
#include "MessageLog.hpp"

namespace {

constexpr int kCalmDownLimit = 10;
constexpr int kFlightLength = 10;
constexpr float kDiagonalPathCost = 1.41f;
constexpr int kDirectionCount = 8;

// A roll with bound n is rand() % n. Every bound in play is at least 1; a smaller one would be
// a division by zero, so it yields 0 without drawing.
int roll(int bound) {
  return bound > 0 ? std::rand() % bound : 0;
}

int sign(int value) {
  return (value > 0) - (value < 0);
}

}  // namespace

// The parameters carry the names of the fields they set.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
NPC::NPC(MessageLog* messageLog, Map* map, int x, int y, unsigned char kind)
    : Entity(messageLog, map, x, y, true), kind(kind) {
  const CreatureStats* stats = statsOf(kind);
  if (stats == nullptr) return;
  maxHp = hp = stats->maxHp;
  speed = stats->speed;
  sightRadius = stats->sightRadius;
  aggressive = stats->aggressive;
  fleeThreshold = stats->fleeThreshold;
  baseDamage = stats->baseDamage;
  damageRange = stats->damageRange;
  accuracy = stats->accuracy;
  name = stats->name;
  glyph = stats->glyph;
}
#pragma GCC diagnostic pop

void NPC::die() {
  if (const CreatureStats* stats = statsOf(kind)) {
    map->addEntity(new Item(messageLog, map, x, y, stats->corpse));
  }
  if (isPlayer) messageLog->add("You have died alone...");
}

void NPC::takeTurn() {
  if (angry && ++turnsSinceAttack > kCalmDownLimit) {
    target = nullptr;
    angry = false;
  }
  if (dead) return;
  energy += speed;
  while (energy > kActionCost) {
    energy -= kActionCost;
    act();
  }
}

void NPC::act() {
  if (fleeing) {
    if (flee()) return;
  } else if (angry) {
    hunt();
  } else if (aggressive && scanForPrey()) {
    hunt();
  } else {
    wander();
  }
  checkFlight();
}

bool NPC::flee() {
  if (target == nullptr) {  // calmed down while fleeing: nothing left to run from
    endFlight();
    return false;
  }
  moveInto(x + sign(x - target->x), y + sign(y - target->y));
  if (++fleeCounter < kFlightLength) return true;
  endFlight();
  return false;
}

void NPC::endFlight() {
  fleeCounter = 0;
  fleeing = false;
  angry = false;
  target = nullptr;
}

// One step along a fresh shortest path over the terrain (other creatures are not considered);
// next to the target the step is a bump, which attacks. Without a path the creature waits.
void NPC::hunt() {
  if (target == nullptr) return;
  TCODPath path(map->fovMap.get(), kDiagonalPathCost);
  if (!path.compute(x, y, target->x, target->y) || path.isEmpty()) return;
  int stepX = 0;
  int stepY = 0;
  path.get(0, &stepX, &stepY);
  moveInto(stepX, stepY);
}

// The first cell within sight radius and in the player's view that holds a blocking entity of
// the other side, columns first; it becomes the target.
bool NPC::scanForPrey() {
  const int r = sightRadius;
  for (int cx = x - r; cx <= x + r; ++cx) {
    for (int cy = y - r; cy <= y + r; ++cy) {
      if (!map->contains(cx, cy)) continue;
      if (map->distance(x, y, cx, cy) > static_cast<float>(r)) continue;
      if (!map->isInFov(cx, cy)) continue;
      auto* prey = dynamic_cast<NPC*>(map->entityAt(cx, cy));
      if (prey == nullptr || prey->playerSide == playerSide) continue;
      target = prey;
      angry = true;
      return true;
    }
  }
  return false;
}

void NPC::wander() {
  const int first = roll(kDirectionCount);
  for (int i = 0; i < kDirectionCount; ++i) {
    if (move((first + i) % kDirectionCount)) return;
  }
}

void NPC::checkFlight() {
  if (hp > fleeThreshold || !angry) return;
  messageLog->add("The " + name + " is fleeing!");
  fleeing = true;
  angry = false;
}

void NPC::interact(Entity* other) {
  auto* defender = dynamic_cast<NPC*>(other);
  if (defender == nullptr || defender->playerSide == playerSide) return;
  turnsSinceAttack = 0;
  if (!defender->angry) {
    defender->angry = true;
    defender->target = this;
  }
  int damage = -1;
  if (roll(kHitRollBound) < accuracy) {
    const int r1 = roll(damageRange);
    const int r2 = roll(weaponDamage);
    const int r3 = roll(defender->armor);
    damage = r1 + baseDamage + r2 - r3;
    if (damage < 0) damage = 0;
    defender->hp -= damage;
    if (defender->hp <= 0) defender->dead = true;
  }
  reportAttack(messageLog, this, defender, damage);
}

void reportAttack(MessageLog* messageLog, const NPC* attacker, const NPC* defender, int damage) {
  const bool miss = damage < 0;
  std::string line;
  if (attacker->isPlayer) {
    line = "You ";
    if (miss) {
      line += "miss the " + defender->name + "!";
    } else {
      line += "hit the " + defender->name;
      line += damage == 0 ? " for no damage!" : " for " + std::to_string(damage) + " damage!";
    }
  } else if (defender->isPlayer) {
    line = "The " + attacker->name;
    if (miss) {
      line += " misses you!";
    } else {
      line += damage == 0 ? " hits you for no damage!"
                          : " hits you for " + std::to_string(damage) + " damage!";
    }
  } else {
    line = "The " + attacker->name;
    line += miss ? " misses the " + defender->name + "!"
                 : " hits the " + defender->name + " for " + std::to_string(damage) + " damage!";
  }
  messageLog->add(line);
  if (!defender->dead) return;
  if (attacker->isPlayer) {
    messageLog->add("You have slain the " + defender->name + "!");
  } else if (!defender->isPlayer) {
    messageLog->add("The " + defender->name + " has been slain!");
  }
}

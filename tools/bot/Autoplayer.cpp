#include "Autoplayer.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <tuple>
#include <unordered_map>

#include "BoutPlan.hpp"
#include "FightOdds.hpp"
#include "Game.hpp"
#include "Grid.hpp"
#include "Item.hpp"
#include "Keys.hpp"
#include "Map.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"

using bot::actionsInTurn;
using bot::BoutGround;
using bot::BoutPlan;
using bot::breadthFirst;
using bot::chebyshev;
using bot::damagePerTurn;
using bot::directionTo;
using bot::euclid;
using bot::fighterOf;
using bot::Grid;
using bot::kBoutLookahead;
using bot::lossChance;
using bot::mayWalk;
using bot::Walks;
using harness::actionKey;
using harness::characterKey;
using harness::moveKey;
using harness::plainKey;

namespace {

// ---- Keys ------------------------------------------------------------------------------------

// Inventory entries past this one have no usable letter: the 26th is "z", which closes the
// window, and the ones after it would need keys that are not letters.
constexpr std::size_t kLastLetterEntry = 24;

char letterFor(std::size_t entry) {
  return static_cast<char>('a' + entry);
}

// ---- What the bot knows about the game's things ----------------------------------------------

// Corpses that yield something when butchered (the kitten's does not), and stones and pelts
// to craft.
bool isWanted(const Item& item) {
  return (item.butcherable && yieldsProducts(item.kind)) || item.craftable;
}

// The values of a creature's kind, which its name on the screen gives away.
const CreatureStats& rulesOf(const NPC& creature) {
  static constexpr CreatureStats kUnknown{};
  const CreatureStats* stats = statsOf(creature.kind);
  return stats != nullptr ? *stats : kUnknown;
}

// The first item lying on a tile: the one "g" would take.
const Item* firstItemOn(const Tile& tile) {
  for (const Entity* entity : tile.entities) {
    if (const auto* item = dynamic_cast<const Item*>(entity)) return item;
  }
  return nullptr;
}

// Hunger at which the bot eats without being pushed; healing stops at 150.
constexpr int kEatingHunger = 110;
// Hunger from which the bot eats even what it would rather keep for later.
constexpr int kLateEatingHunger = 140;
// Hunger from which eating comes before anything but the fight at hand, and from which it
// comes before everything: starving kills for sure, a blow may not.
constexpr int kUrgentHunger = 200;
constexpr int kStarvingHunger = Player::kStarvation - 6;
// More food than this in the pack, and the bot eats whatever fits its hunger.
constexpr std::size_t kFoodToCarry = 5;
// Resting starts at or below the first and lasts until the second.
constexpr int kRestBelow = 13;
constexpr int kRestUntil = 19;
// With nothing in view and nothing else to do here, the bot heals before walking on.
constexpr int kHealBelow = 16;
// Outgrown gear is dropped once the pack holds this many items (or three pieces of it).
constexpr std::size_t kPackToTidy = 10;
constexpr std::size_t kOutgrownToTidy = 3;
// A creature remembered from this recently is worth walking to where it was.
constexpr int kSightingMemory = 80;
// A bear this close (in steps) is either fought or run from; the player takes one on with at
// least this many hit points.
constexpr int kBearReach = 4;
// A bear seen this many turns ago is still about.
constexpr int kBearRecent = 5;
constexpr int kBoutHp = 12;
// A bout without a blow struck for this many turns is broken off for the second number.
constexpr int kBoutPatience = 30;
constexpr int kBoutPause = 60;
// How wide a berth a bear out of view gets around where it was last seen.
constexpr double kBearBerth = 4.0;
// How far a creature that hunts by sight (snakes, bears) could notice the player, with room.
constexpr double kNoticeMargin = 2.0;

// Index of the food to eat now, if any: the largest that the hunger fully uses once the bot is
// hungry or carries too much, something even if it overshoots once hunger gets high.
std::optional<std::size_t> foodToEat(const Player& player) {
  std::vector<std::size_t> foods;
  for (std::size_t i = 0; i < player.inventory.size() && i <= kLastLetterEntry; ++i) {
    if (player.inventory[i]->eatable) foods.push_back(i);
  }
  if (foods.empty()) return std::nullopt;
  const int hunger = player.hunger;
  const auto nutrition = [&](std::size_t i) { return nutritionOf(player.inventory[i]->kind); };
  if (hunger >= kEatingHunger || foods.size() > kFoodToCarry) {
    std::optional<std::size_t> best;
    for (std::size_t i : foods) {
      if (nutrition(i) <= hunger && (!best || nutrition(i) > nutrition(*best))) best = i;
    }
    if (best) return best;
  }
  if (hunger >= kLateEatingHunger) {
    return *std::min_element(foods.begin(), foods.end(), [&](std::size_t a, std::size_t b) {
      return nutrition(a) < nutrition(b);
    });
  }
  return std::nullopt;
}

// The inventory entry to use next to wear the best piece in each slot: the better unworn piece
// when the slot is empty, or the worn one (to take it off) when an unworn piece beats it.
std::optional<std::size_t> gearChange(const Player& player) {
  for (std::size_t slot = 0; slot < player.equipment.size(); ++slot) {
    const Item* worn = player.equipment[slot];
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < player.inventory.size() && i <= kLastLetterEntry; ++i) {
      const Item& item = *player.inventory[i];
      if (item.equipped || item.slot != static_cast<int>(slot)) continue;
      if (!best || item.bonus > player.inventory[*best]->bonus) best = i;
    }
    if (!best) continue;
    if (worn == nullptr) return best;
    if (player.inventory[*best]->bonus <= worn->bonus) continue;
    for (std::size_t i = 0; i < player.inventory.size() && i <= kLastLetterEntry; ++i) {
      if (player.inventory[i] == worn) return i;
    }
  }
  return std::nullopt;
}

// Gear the bot has outgrown: an unworn piece whose slot holds one at least as good.
bool isOutgrown(const Player& player, const Item& item) {
  if (item.equipped || item.slot < 0) return false;
  const Item* worn = player.equipment[static_cast<std::size_t>(item.slot)];
  return worn != nullptr && worn->bonus >= item.bonus;
}

std::size_t outgrownCount(const Player& player) {
  return static_cast<std::size_t>(
      std::count_if(player.inventory.begin(), player.inventory.end(),
                    [&](const Item* item) { return isOutgrown(player, *item); }));
}

std::optional<std::size_t> firstEntry(const Player& player, bool (*wanted)(const Item&)) {
  for (std::size_t i = 0; i < player.inventory.size() && i <= kLastLetterEntry; ++i) {
    if (wanted(*player.inventory[i])) return i;
  }
  return std::nullopt;
}

bool isNote(const Item& item) {
  return item.kind == BloodyNote;
}
bool isCorpse(const Item& item) {
  return item.butcherable;
}
bool isMaterial(const Item& item) {
  return item.craftable;
}

// Whether the inventory holds something to butcher, craft, eat or wear differently.
bool hasPackWork(const Player& player) {
  return firstEntry(player, isCorpse) || firstEntry(player, isMaterial) || foodToEat(player) ||
         gearChange(player);
}

// The bot seeks out a fight only when it loses it at most this often.
constexpr double kRiskToSeek = 0.005;

// How soon to strike `creature` at the player's side: the harm it does a turn over the turns
// it takes to fell, then the fewer hit points.
std::pair<double, int> urgency(const Player& player, const NPC& creature) {
  const double harm =
      creature.fleeing ? 0.0 : damagePerTurn(fighterOf(creature), fighterOf(player));
  const double felled =
      creature.hp / std::max(damagePerTurn(fighterOf(player), fighterOf(creature)), 0.1);
  return {harm / felled, -creature.hp};
}

}  // namespace

// ---- Choosing the key ------------------------------------------------------------------------

TCOD_key_t Autoplayer::nextKey(const Game& game) {
  observe(game);
  if (auto key = menuKey(game)) return *key;
  const Player& player = *game.player;
  if (firstEntry(player, isNote)) return press(actionKey(Action::OpenInventory), "read the note");
  if (player.hunger >= kUrgentHunger && foodToEat(player) &&
      (nothingAtHand(game) || player.hunger >= kStarvingHunger)) {
    return press(actionKey(Action::OpenInventory), "eat now");
  }
  if (auto key = fightKey(game)) return *key;
  if (player.hunger >= kUrgentHunger && foodToEat(player))
    return press(actionKey(Action::OpenInventory), "eat now");
  if (auto key = upkeepKey(game)) return *key;
  if (auto key = huntKey(game)) return *key;
  if (auto key = healKey(game)) return *key;
  if (auto key = travelKey(game)) return *key;
  return press(actionKey(Action::Wait), "nothing to do");
}

TCOD_key_t Autoplayer::press(const TCOD_key_t& key, const char* why) {
  lastIntent = why;
  return key;
}

// Remembers what is in view now: which cells were seen when, where the corpses and stones lie,
// and where each creature stands.
void Autoplayer::observe(const Game& game) {
  const Map& map = *game.map;
  if (lastSeen.size() == 0) {
    lastSeen = Grid<int>(map.width, map.height, -1);
    wantedItemAt = Grid<bool>(map.width, map.height, false);
  }
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      if (!map.isInFov(x, y)) continue;
      lastSeen.at(x, y) = game.turnCount;
      const Item* item = firstItemOn(map.tileAt(x, y));
      wantedItemAt.at(x, y) = item != nullptr && isWanted(*item);
    }
  }
  std::vector<std::uint32_t> inView;
  for (const NPC* creature : creaturesInView(game)) {
    sightings[creature->id] = {creature->x, creature->y, creature->kind, creature->hp,
                               game.turnCount};
    inView.push_back(creature->id);
  }
  // A creature remembered on a cell that is in view now but empty has gone (or died).
  for (auto it = sightings.begin(); it != sightings.end();) {
    const bool seenNow = std::find(inView.begin(), inView.end(), it->first) != inView.end();
    if (!seenNow && map.isInFov(it->second.x, it->second.y)) {
      it = sightings.erase(it);
    } else {
      ++it;
    }
  }
}

std::vector<const NPC*> Autoplayer::creaturesInView(const Game& game) const {
  std::vector<const NPC*> creatures;
  for (const Entity* entity : game.map->visibleEntities) {
    const auto* creature = dynamic_cast<const NPC*>(entity);
    if (creature != nullptr && !creature->isPlayer && !creature->dead)
      creatures.push_back(creature);
  }
  return creatures;
}

bool Autoplayer::canBeat(const Player& player, const NPC& creature) const {
  if (creature.fleeing) return true;  // it does not hit back while it runs
  if (creature.kind == Bear) return player.hp >= kBoutHp;
  return lossChance(fighterOf(player), fighterOf(creature)) <= kRiskToSeek;
}

bool Autoplayer::nothingAtHand(const Game& game) const {
  const Player& player = *game.player;
  for (const NPC* creature : creaturesInView(game)) {
    if (chebyshev(creature->x, creature->y, player.x, player.y) <= 2) return false;
  }
  return true;
}

bool Autoplayer::isQuiet(const Game& game) const {
  const Player& player = *game.player;
  for (const auto& [id, seen] : sightings) {
    if (seen.kind == Bear && game.turnCount - seen.turn <= kBearRecent &&
        chebyshev(seen.x, seen.y, player.x, player.y) <= 2 * kBearReach) {
      return false;  // a bear was close a moment ago: it may be back at once
    }
  }
  for (const NPC* creature : creaturesInView(game)) {
    if (creature->angry) return false;
    const double distance = euclid(creature->x, creature->y, player.x, player.y);
    if (rulesOf(*creature).aggressive && !creature->fleeing &&
        distance <= rulesOf(*creature).sightRadius + kNoticeMargin) {
      return false;
    }
  }
  return true;
}

std::optional<TCOD_key_t> Autoplayer::menuKey(const Game& game) {
  switch (game.mode) {
    case Inventory:
      return inventoryKey(game);
    case Drop:
      return dropKey(game);
    case Note:
      return press(plainKey(TCODK_ESCAPE), "close the note");
    default:
      return std::nullopt;
  }
}

// In the inventory window: read, butcher, eat, craft, change gear, then close it. A creature
// at the player's side or a bear drawing near ends the visit early, unless hunger cannot wait.
std::optional<TCOD_key_t> Autoplayer::inventoryKey(const Game& game) {
  const Player& player = *game.player;
  if (auto note = firstEntry(player, isNote)) return press(characterKey(letterFor(*note)), "read");
  const auto food = foodToEat(player);
  const bool starving = player.hunger >= kUrgentHunger && food;
  bool attacked = false;
  for (const NPC* creature : creaturesInView(game)) {
    const int gap = chebyshev(creature->x, creature->y, player.x, player.y);
    const bool hunting = creature->angry && !creature->fleeing;
    const bool bearNear = creature->kind == Bear && !creature->fleeing && gap <= kBearReach;
    if ((gap <= 1 && hunting) || (creature->kind == Bear && hunting) || bearNear) {
      attacked = true;
    }
  }
  if (attacked && !starving) return press(plainKey(TCODK_ESCAPE), "close: under attack");
  if (starving) return press(characterKey(letterFor(*food)), "eat");
  if (auto corpse = firstEntry(player, isCorpse)) {
    return press(characterKey(letterFor(*corpse)), "butcher");
  }
  if (food) return press(characterKey(letterFor(*food)), "eat");
  if (auto material = firstEntry(player, isMaterial)) {
    return press(characterKey(letterFor(*material)), "craft");
  }
  if (auto change = gearChange(player))
    return press(characterKey(letterFor(*change)), "change gear");
  return press(plainKey(TCODK_ESCAPE), "close the inventory");
}

std::optional<TCOD_key_t> Autoplayer::dropKey(const Game& game) {
  const Player& player = *game.player;
  if (isQuiet(game)) {
    for (std::size_t i = 0; i < player.inventory.size() && i <= kLastLetterEntry; ++i) {
      if (isOutgrown(player, *player.inventory[i])) {
        return press(characterKey(letterFor(i)), "drop outgrown gear");
      }
    }
  }
  return press(plainKey(TCODK_ESCAPE), "close the drop window");
}

// The bears close enough to matter, and the creature at the player's side to strike first: the
// one that does the most harm for the time it takes to fell.
Autoplayer::Threats Autoplayer::threatsAround(const Game& game) const {
  const Player& player = *game.player;
  Threats threats;
  std::optional<Walks> walks;  // over unexplored ground too: the bear may know a way
  for (const NPC* creature : creaturesInView(game)) {
    if (creature->kind == Bear && !creature->fleeing) {
      // A bear counts by the length of its walk to the player: one across water is no threat.
      if (!walks) walks = walksFrom(game, nothingToAvoid(), true);
      const int walk = walks->distance[lastSeen.index(creature->x, creature->y)];
      if (walk > 0 && (walk <= kBearReach || (creature->angry && walk <= 2 * kBearReach))) {
        threats.bears.push_back(creature);
      }
      continue;
    }
    if (chebyshev(creature->x, creature->y, player.x, player.y) > 1) continue;
    if (threats.victim == nullptr ||
        urgency(player, *creature) > urgency(player, *threats.victim)) {
      threats.victim = creature;
    }
  }
  return threats;
}

// Fights at the player's side; bears get a fight of their own (see boutKey), or are run from
// while the player is too hurt for one.
std::optional<TCOD_key_t> Autoplayer::fightKey(const Game& game) {
  const Threats threats = threatsAround(game);
  if (!threats.bears.empty()) {
    if (auto key = bearKey(game, threats)) return key;
  }
  if (threats.victim == nullptr) return std::nullopt;
  return attack(game, *threats.victim);
}

// A bout with the nearest bear, or a run from the bears; nothing when whatever stands at the
// player's side comes first.
std::optional<TCOD_key_t> Autoplayer::bearKey(const Game& game, const Threats& threats) {
  const Player& player = *game.player;
  const std::vector<const NPC*>& bears = threats.bears;
  const NPC* nearest = *std::min_element(bears.begin(), bears.end(), [&](auto a, auto b) {
    return chebyshev(a->x, a->y, player.x, player.y) < chebyshev(b->x, b->y, player.x, player.y);
  });
  // A bout that brings no blows for long (the bear will not come) is broken off for a while.
  const bool continuing = game.turnCount - lastBoutTurn <= 1;
  if (!continuing) lastStrike = game.turnCount;  // a new bout starts
  if (game.turnCount - lastStrike > kBoutPatience) boutPausedUntil = game.turnCount + kBoutPause;
  // A snake at the player's side is dealt with first (unless the bear is as close); a bout is
  // for a bear alone, and for a player fit for it. Otherwise the bot gets away from the bear.
  const NPC* victim = threats.victim;
  const bool bearAtHand = chebyshev(nearest->x, nearest->y, player.x, player.y) <= 1;
  const bool snakeAtHand = victim != nullptr && victim->kind == Snake && !victim->fleeing;
  const bool paused = game.turnCount < boutPausedUntil;
  const bool fit = bears.size() == 1 && player.hp >= kBoutHp && !paused;
  // A bear two steps off cannot strike this turn: whatever stands at the player's side first.
  const bool strikeFirst = victim != nullptr && !bearAtHand;
  if ((snakeAtHand && !bearAtHand) || strikeFirst) return std::nullopt;
  if (auto key = boutKey(game, *nearest, !fit)) {
    if (fit) lastBoutTurn = game.turnCount;
    return key;
  }
  if (!fit || bearAtHand) return fleeKey(game, bears);
  return std::nullopt;
}

TCOD_key_t Autoplayer::attack(const Game& game, const NPC& creature) {
  const Player& player = *game.player;
  const int direction = directionTo(creature.x - player.x, creature.y - player.y);
  lastIntent = "fight " + creature.name;
  return moveKey(direction);
}

// A bear hits hard but acts only four turns in five (its speed against the action cost: every
// bear rests on turns 1, 5, 10, 15, ...). So the player strikes only on the bear's resting
// turns; on the others it stays out of reach, and the bear spends its action walking back to
// the player instead of hitting it. A calm bear the bot is after is walked up to.
std::optional<TCOD_key_t> Autoplayer::boutKey(const Game& game, const NPC& bear, bool getAway) {
  const Player& player = *game.player;
  const int gap = chebyshev(bear.x, bear.y, player.x, player.y);
  if (bear.angry || gap <= 2) return closeBoutKey(game, bear, getAway);
  if (seekingBears && !getAway) return approachBearKey(game, bear);
  return std::nullopt;
}

// The bear is at hand or after the player. The bot plans its steps a few turns ahead so that
// it circles in open ground, backs off along corridors and slips past the bear while it rests
// instead of walking into a corner; with no way out it stands and fights.
std::optional<TCOD_key_t> Autoplayer::closeBoutKey(const Game& game, const NPC& bear,
                                                   bool getAway) {
  const Player& player = *game.player;
  const int turn = game.turnCount + 1;  // the turn the next key plays
  const int gap = chebyshev(bear.x, bear.y, player.x, player.y);
  const BoutPlan::Move move = planBout(game, bear, getAway);
  if (move.value.safeTurns <= 0) {
    // No way to keep out of reach this turn: strike if it can.
    if (gap <= 1) return attack(game, bear);
    return press(actionKey(Action::Wait), "cornered by a bear");
  }
  if (move.direction >= 0) {
    return pressInBout(moveKey(move.direction),
                       getAway ? "get away from the bear" : "keep out of the bear's reach", bear,
                       move);
  }
  if (gap <= 1 && actionsInTurn(rulesOf(bear).speed, turn) == 0) {
    lastStrike = game.turnCount;
    return attack(game, bear);
  }
  if (getAway && gap > 1) return std::nullopt;  // out of its reach: go about other things
  return pressInBout(actionKey(Action::Wait), "let the bear come", bear, move);
}

// The best first move of a bout with `bear`; `getAway` turns true when the ground here will not
// carry the bout through and the plan looks for distance instead.
BoutPlan::Move Autoplayer::planBout(const Game& game, const NPC& bear, bool& getAway) const {
  const Player& player = *game.player;
  const int turn = game.turnCount + 1;
  Grid<bool> taken = nothingToAvoid();
  for (const NPC* creature : creaturesInView(game)) {
    if (creature != &bear) taken.at(creature->x, creature->y) = true;
  }
  const Grid<int> room = bot::roomAround(game, bear);
  const CreatureStats& kind = rulesOf(bear);
  const BoutGround terrain{game, taken, kind.sightRadius, bear.angry};
  BoutPlan::Move move =
      BoutPlan(terrain, room, kind.speed, turn, getAway).best(player.x, player.y, bear.x, bear.y);
  if (!getAway && move.value.safeTurns < kBoutLookahead) {
    getAway = true;
    move = BoutPlan(terrain, room, kind.speed, turn, true).best(player.x, player.y, bear.x, bear.y);
  }
  return move;
}

TCOD_key_t Autoplayer::pressInBout(const TCOD_key_t& key, const char* why, const NPC& bear,
                                   const BoutPlan::Move& move) {
  const TCOD_key_t pressed = press(key, why);
  lastIntent += " at " + std::to_string(bear.x) + "," + std::to_string(bear.y) + " safe " +
                std::to_string(move.value.safeTurns) + " strikes " +
                std::to_string(move.value.strikes);
  return pressed;
}

// Walks up to a calm bear, but never within two steps of it on a turn it acts.
std::optional<TCOD_key_t> Autoplayer::approachBearKey(const Game& game, const NPC& bear) {
  const Player& player = *game.player;
  const bool bearActs = actionsInTurn(rulesOf(bear).speed, game.turnCount + 1) > 0;
  const Walks walks = walksFrom(game, nothingToAvoid(), false);
  const int direction = walks.firstStep[lastSeen.index(bear.x, bear.y)];
  if (direction < 0) return std::nullopt;
  const Step& step = kSteps[static_cast<std::size_t>(direction)];
  if (bearActs && chebyshev(player.x + step.dx, player.y + step.dy, bear.x, bear.y) <= 2) {
    return press(actionKey(Action::Wait), "wait for the bear's rest");
  }
  return press(moveKey(direction), "go to the bear");
}

// A step toward the cell that lies farthest from every creature in `from` among those the
// player reaches before any of them (bears are slower than the player). Unexplored ground is
// hoped to be open: running into the unknown beats being cornered. Nothing when no step gains
// any distance.
std::optional<TCOD_key_t> Autoplayer::fleeKey(const Game& game,
                                              const std::vector<const NPC*>& from) {
  std::vector<std::size_t> hunters;
  for (const NPC* creature : from)
    hunters.push_back(lastSeen.index(creature->x, creature->y));
  const auto open = [&](int x, int y) { return mayWalk(*game.map, x, y, true); };
  const Grid<int> threat =
      breadthFirst(lastSeen.width(), lastSeen.height(), hunters, open, open).distance;
  const std::size_t cells = threat.size();
  const Walks walks = walksFrom(game, nothingToAvoid(), true);
  std::optional<std::size_t> goal;
  for (std::size_t cell = 0; cell < cells; ++cell) {
    const int mine = walks.distance[cell];
    if (mine <= 0 || threat[cell] < 0 || mine >= threat[cell]) continue;
    if (!goal || threat[cell] > threat[*goal] ||
        (threat[cell] == threat[*goal] && mine < walks.distance[*goal])) {
      goal = cell;
    }
  }
  const Player& player = *game.player;
  const int here = threat.at(player.x, player.y);
  if (goal && threat[*goal] > here) return stepToward(walks, static_cast<int>(*goal), "run");
  return std::nullopt;
}

// Inventory work, tidying, picking up and resting: what the bot does when nothing hunts it.
std::optional<TCOD_key_t> Autoplayer::upkeepKey(const Game& game) {
  const Player& player = *game.player;
  if (player.hp <= kRestBelow) resting = true;
  if (player.hp >= std::min(kRestUntil, player.maxHp) ||
      player.hunger >= Player::kHealingHungerLimit) {
    resting = false;
  }
  if (!isQuiet(game)) return std::nullopt;
  if (hasPackWork(player)) return press(actionKey(Action::OpenInventory), "open the inventory");
  const std::size_t outgrown = outgrownCount(player);
  if (outgrown > 0 && (outgrown >= kOutgrownToTidy || player.inventory.size() >= kPackToTidy)) {
    return press(actionKey(Action::OpenDrop), "open the drop window");
  }
  const Item* underfoot = firstItemOn(game.map->tileAt(player.x, player.y));
  if (underfoot != nullptr && isWanted(*underfoot) &&
      player.inventory.size() <= Player::kPickUpLimit) {
    return press(actionKey(Action::PickUp), "pick up");
  }
  if (resting) return press(actionKey(Action::Wait), "rest");
  return std::nullopt;
}

// Before walking on (into ground where anything may wait), the bot heals up if it can.
std::optional<TCOD_key_t> Autoplayer::healKey(const Game& game) {
  const Player& player = *game.player;
  if (player.hp > kHealBelow || player.hunger >= Player::kHealingHungerLimit || !isQuiet(game)) {
    return std::nullopt;
  }
  if (!creaturesInView(game).empty()) return std::nullopt;
  resting = true;
  return press(actionKey(Action::Wait), "heal before going on");
}

// Walks toward the nearest creature in view that the bot can beat. Bears are only sought out
// when the way on lies past one.
std::optional<TCOD_key_t> Autoplayer::huntKey(const Game& game) {
  const Player& player = *game.player;
  const Walks walks = walksFrom(game, cellsToAvoid(game), false);
  const NPC* prey = nullptr;
  for (const NPC* creature : creaturesInView(game)) {
    if (!canBeat(player, *creature)) continue;
    if (creature->kind == Bear && !creature->fleeing && !seekingBears) continue;
    const auto cell = lastSeen.index(creature->x, creature->y);
    if (walks.distance[cell] < 0) continue;
    if (prey == nullptr ||
        walks.distance[cell] < walks.distance[lastSeen.index(prey->x, prey->y)]) {
      prey = creature;
    }
  }
  if (prey != nullptr) {
    lastIntent = "hunt " + prey->name;
    if (prey->kind != Bear) {
      const int risk =
          static_cast<int>(lossChance(fighterOf(player), fighterOf(*prey)) * 1000.0 + 0.5);
      lastIntent += " (risk " + std::to_string(risk) + " in 1000)";
    }
    return stepToward(walks, static_cast<int>(lastSeen.index(prey->x, prey->y)),
                      lastIntent.c_str());
  }
  return std::nullopt;
}

// Where to walk when nothing is in reach: to corpses and stones, to unexplored ground, to where
// creatures were last seen, and last to the cells unseen for longest. A walk to unexplored
// ground or to an unseen cell keeps its goal until the goal is seen, so that the bot does not
// dither between two goals.
std::optional<TCOD_key_t> Autoplayer::travelKey(const Game& game) {
  seekingBears = false;
  Walks walks = walksFrom(game, cellsToAvoid(game), false);
  if (std::none_of(walks.distance.begin(), walks.distance.end(), [](int d) { return d > 0; })) {
    walks = walksFrom(game, nothingToAvoid(), false);
  }
  if (auto key = fetchKey(game, walks)) return key;
  if (auto key = exploreKey(game, walks)) return key;
  if (auto key = revisitKey(game, walks)) return key;
  return patrolKey(game, walks);
}

// The reachable cell nearest the player for which `wanted` holds, or -1.
template <typename Wanted>
int Autoplayer::nearest(const Walks& walks, Wanted&& wanted) {
  int best = -1;
  for (int cell = 0; cell < static_cast<int>(walks.distance.size()); ++cell) {
    const int distance = walks.distance[static_cast<std::size_t>(cell)];
    if (distance <= 0 || !wanted(cell)) continue;
    if (best < 0 || distance < walks.distance[static_cast<std::size_t>(best)]) best = cell;
  }
  return best;
}

bool Autoplayer::isFrontier(const Game& game, int cell) const {
  for (const Step& step : kSteps) {
    const int nx = lastSeen.xOf(static_cast<std::size_t>(cell)) + step.dx;
    const int ny = lastSeen.yOf(static_cast<std::size_t>(cell)) + step.dy;
    if (game.map->contains(nx, ny) && !game.map->tileAt(nx, ny).explored) return true;
  }
  return false;
}

// To the nearest corpse or stone seen lying free, while the pack takes more.
std::optional<TCOD_key_t> Autoplayer::fetchKey(const Game& game, const Walks& walks) {
  if (game.player->inventory.size() > Player::kPickUpLimit) return std::nullopt;
  const int item = nearest(walks, [&](int cell) {
    return wantedItemAt[static_cast<std::size_t>(cell)] &&
           !game.map->entityAt(lastSeen.xOf(static_cast<std::size_t>(cell)),
                               lastSeen.yOf(static_cast<std::size_t>(cell)));
  });
  if (item < 0) return std::nullopt;
  return stepToward(walks, item, "fetch an item");
}

// To the nearest unexplored ground; when what is left lies past a bear, that way to take it on.
std::optional<TCOD_key_t> Autoplayer::exploreKey(const Game& game, const Walks& walks) {
  if (goal.purpose == Goal::Explore && walks.distance[static_cast<std::size_t>(goal.cell)] > 0 &&
      isFrontier(game, goal.cell)) {
    return stepToward(walks, goal.cell, "explore");
  }
  const auto frontier = [&](int cell) { return isFrontier(game, cell); };
  if (const int cell = nearest(walks, frontier); cell >= 0) {
    goal = {Goal::Explore, cell};
    return stepToward(walks, cell, "explore");
  }
  if (game.player->hp < kBoutHp) return std::nullopt;
  const Walks past = walksFrom(game, nothingToAvoid(), false);
  for (int cell = 0; cell < static_cast<int>(past.distance.size()); ++cell) {
    if (past.distance[static_cast<std::size_t>(cell)] > 0 && frontier(cell)) {
      seekingBears = true;
      return stepToward(past, cell, "explore past a bear");
    }
  }
  return std::nullopt;
}

// To where the freshest memory of a creature worth hunting stands (bears are met when they
// come, not sought out).
std::optional<TCOD_key_t> Autoplayer::revisitKey(const Game& game, const Walks& walks) {
  const Sighting* freshest = nullptr;
  for (const auto& [id, seen] : sightings) {
    const auto cell = lastSeen.index(seen.x, seen.y);
    if (game.turnCount - seen.turn > kSightingMemory || walks.distance[cell] <= 0) continue;
    if (seen.kind == Bear) continue;
    if (freshest == nullptr || seen.turn > freshest->turn) freshest = &seen;
  }
  if (freshest == nullptr) return std::nullopt;
  return stepToward(walks, static_cast<int>(lastSeen.index(freshest->x, freshest->y)),
                    "go where a creature was");
}

// To the cell unseen for longest, traded against the walk there.
std::optional<TCOD_key_t> Autoplayer::patrolKey(const Game& game, const Walks& walks) {
  const auto unseenSince = [&](int cell) {
    return game.turnCount - lastSeen[static_cast<std::size_t>(cell)];
  };
  if (goal.purpose == Goal::Patrol && walks.distance[static_cast<std::size_t>(goal.cell)] > 0 &&
      unseenSince(goal.cell) > 0) {
    return stepToward(walks, goal.cell, "patrol");
  }
  int best = -1;
  int bestScore = 0;
  for (int cell = 0; cell < static_cast<int>(walks.distance.size()); ++cell) {
    const int distance = walks.distance[static_cast<std::size_t>(cell)];
    if (distance <= 0) continue;
    const int score = unseenSince(cell) - distance;
    if (best < 0 || score > bestScore) {
      best = cell;
      bestScore = score;
    }
  }
  if (best < 0 || unseenSince(best) <= 0) return std::nullopt;
  goal = {Goal::Patrol, best};
  return stepToward(walks, best, "patrol");
}

// ---- Walking ---------------------------------------------------------------------------------

// Breadth-first over the cells the player has explored and can walk on, and over unexplored
// cells too when `guessUnknown` (hoping they are open ground). A cell with a creature in view
// can be reached (to attack it) but not walked through; cells in `avoid` are left out.
Walks Autoplayer::walksFrom(const Game& game, const Grid<bool>& avoid, bool guessUnknown) const {
  Grid<bool> occupied = nothingToAvoid();
  for (const NPC* creature : creaturesInView(game))
    occupied.at(creature->x, creature->y) = true;
  const Player& player = *game.player;
  return breadthFirst(
      lastSeen.width(), lastSeen.height(), {lastSeen.index(player.x, player.y)},
      [&](int x, int y) { return mayWalk(*game.map, x, y, guessUnknown) && !avoid.at(x, y); },
      [&](int x, int y) { return !occupied.at(x, y); });
}

Grid<bool> Autoplayer::nothingToAvoid() const {
  return Grid<bool>(lastSeen.width(), lastSeen.height(), false);
}

// Cells near bears (unless the bot is after one), and, while the bot is too hurt for a snake,
// cells a snake in view could notice it from.
Grid<bool> Autoplayer::cellsToAvoid(const Game& game) const {
  const Player& player = *game.player;
  Grid<bool> avoid = nothingToAvoid();
  const auto keepAway = [&](int cx, int cy, double radius) {
    const int r = static_cast<int>(std::ceil(radius));
    for (int y = cy - r; y <= cy + r; ++y) {
      for (int x = cx - r; x <= cx + r; ++x) {
        if (game.map->contains(x, y) && euclid(x, y, cx, cy) <= radius) {
          avoid.at(x, y) = true;
        }
      }
    }
  };
  for (const NPC* creature : creaturesInView(game)) {
    if (!rulesOf(*creature).aggressive || creature->fleeing) continue;
    if (creature->kind == Bear) {
      if (!seekingBears)
        keepAway(creature->x, creature->y, rulesOf(*creature).sightRadius + kNoticeMargin);
      continue;
    }
    if (creature->angry) continue;  // it comes anyway
    if (!canBeat(player, *creature)) {
      keepAway(creature->x, creature->y, rulesOf(*creature).sightRadius + kNoticeMargin);
    }
  }
  // Bears out of view are kept away from too, where they were last seen.
  for (const auto& [id, seen] : sightings) {
    if (seen.kind != Bear || seen.turn == game.turnCount || seekingBears) continue;
    keepAway(seen.x, seen.y, kBearBerth);
  }
  avoid.at(player.x, player.y) = false;
  return avoid;
}

std::optional<TCOD_key_t> Autoplayer::stepToward(const Walks& walks, int cell, const char* why) {
  const int direction = walks.firstStep[static_cast<std::size_t>(cell)];
  if (direction < 0) return std::nullopt;
  const TCOD_key_t key = press(moveKey(direction), why);
  lastIntent += " (" + std::to_string(lastSeen.xOf(static_cast<std::size_t>(cell))) + "," +
                std::to_string(lastSeen.yOf(static_cast<std::size_t>(cell))) + ")";
  return key;
}

#include "MidGame.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Entity.hpp"
#include "Item.hpp"
#include "Keyboard.hpp"
#include "Keys.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"

namespace bench {
namespace {

TCOD_key_t heldKey{};

// The exploring walk's own generator, so that choosing directions draws nothing from rand().
class Walker {
 public:
  int nextDirection() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<int>(state % 8);
  }

 private:
  std::uint32_t state = 2463534242u;
};

constexpr int kExploringTurns = 600;
constexpr int kNearest = 2;  // hunters start at least this far from the player
constexpr int kFarthest = 5;
// With this much in store every kind in the cave acts exactly once in the next turn.
constexpr int kHunterEnergy = 5;

}  // namespace

void fixRandomness(std::uint32_t seed) {
  harness::fixPartition(seed);
  std::srand(seed);
}

void holdKey(TCOD_key_t key) {
  heldKey = key;
  keyboard::setKeySource([] { return heldKey; });
}

MidGame::MidGame() {
  fixRandomness(kSeed);
  game = std::make_unique<Game>();
  explore();
  placeHunters();
  placeItems();
  game->map->computeFov(game->player->x, game->player->y, 5);
  game->map->draw();  // marks the cells now in view as explored
}

// Walks toward the least visited neighbouring cell (a fair coin among equals), which spreads
// over the cave quickly. The player is healed and fed along the way so that the walk is never
// cut short; creatures met on the way get fought.
void MidGame::explore() {
  Walker walker;
  Player& player = *game->player;
  const Map& map = *game->map;
  std::vector<int> visits(static_cast<std::size_t>(map.width * map.height), 0);
  const auto visitsAt = [&](int x, int y) -> int& {
    return visits[static_cast<std::size_t>(y * map.width + x)];
  };
  for (int turn = 0; turn < kExploringTurns && !player.dead; ++turn) {
    int best = -1;
    int fewest = 0;
    const int first = walker.nextDirection();
    for (int i = 0; i < 8; ++i) {
      const int direction = (first + i) % 8;
      const Step step = kSteps[static_cast<std::size_t>(direction)];
      const int x = player.x + step.dx;
      const int y = player.y + step.dy;
      if (!map.contains(x, y) || !map.isWalkable(x, y)) continue;
      if (best < 0 || visitsAt(x, y) < fewest) {
        best = direction;
        fewest = visitsAt(x, y);
      }
    }
    if (best < 0) break;  // walled in: nowhere to go
    holdKey(harness::moveKey(best));
    game->draw();  // as the shell does before every key: this is what explores
    game->update();
    ++visitsAt(player.x, player.y);
    player.hp = player.maxHp;
    player.hunger = Player::kStartingHunger;
  }
  keyboard::setKeySource(nullptr);
}

// Free walkable cells between kNearest and kFarthest from the player, those in view first and,
// among them, the farthest first.
std::vector<MidGame::Place> MidGame::freeCellsAroundPlayer() const {
  const Map& map = *game->map;
  const Player& player = *game->player;
  std::vector<Place> cells;
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      const float distance = map.distance(x, y, player.x, player.y);
      if (distance < kNearest || distance > kFarthest) continue;
      if (!map.isWalkable(x, y) || map.entityAt(x, y) != nullptr) continue;
      cells.push_back({x, y});
    }
  }
  std::stable_sort(cells.begin(), cells.end(), [&](const Place& a, const Place& b) {
    const bool aSeen = map.isInFov(a.x, a.y);
    const bool bSeen = map.isInFov(b.x, b.y);
    if (aSeen != bSeen) return aSeen;
    return map.distance(a.x, a.y, player.x, player.y) > map.distance(b.x, b.y, player.x, player.y);
  });
  return cells;
}

// Snakes and bears first (they hunt by nature), then whoever else is alive.
void MidGame::placeHunters() {
  std::vector<NPC*> creatures;
  for (const auto& entry : game->registry) {
    auto* creature = dynamic_cast<NPC*>(entry.second);
    if (creature != nullptr && !creature->isPlayer && !creature->dead)
      creatures.push_back(creature);
  }
  std::stable_partition(creatures.begin(), creatures.end(),
                        [](const NPC* creature) { return creature->aggressive; });
  const std::vector<Place> cells = freeCellsAroundPlayer();
  for (std::size_t i = 0; i < creatures.size() && i < cells.size() && i < kHunterCount; ++i) {
    creatures[i]->moveTo(cells[i].x, cells[i].y);
    hunters.push_back(creatures[i]);
    starts.push_back(cells[i]);
  }
  resetHunters();
}

// One item under the player and one in view beside it.
void MidGame::placeItems() {
  std::vector<Item*> lying;
  for (const auto& entry : game->registry) {
    auto* item = dynamic_cast<Item*>(entry.second);
    if (item != nullptr && item->isOnMap()) lying.push_back(item);
  }
  const Player& player = *game->player;
  if (!lying.empty()) lying[0]->moveTo(player.x, player.y);
  const std::vector<Place> cells = freeCellsAroundPlayer();
  if (lying.size() > 1 && !cells.empty()) lying[1]->moveTo(cells.front().x, cells.front().y);
}

void MidGame::resetHunters() {
  Player& player = *game->player;
  player.hp = player.maxHp;
  player.hunger = Player::kStartingHunger;
  player.dead = false;
  for (std::size_t i = 0; i < hunters.size(); ++i) {
    NPC& hunter = *hunters[i];
    const Place start = starts[i];
    if ((hunter.x != start.x || hunter.y != start.y) &&
        game->map->entityAt(start.x, start.y) == nullptr) {
      hunter.moveTo(start.x, start.y);
    }
    hunter.hp = hunter.maxHp;
    hunter.angry = true;
    hunter.target = &player;
    hunter.turnsSinceAttack = 0;
    hunter.fleeing = false;
    hunter.fleeCounter = 0;
    hunter.energy = kHunterEnergy;
  }
}

}  // namespace bench

#include "Invariants.hpp"

#include <cstddef>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "Entity.hpp"
#include "Game.hpp"
#include "Item.hpp"
#include "Map.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Tile.hpp"

namespace harness {
namespace {

// Collects the broken rules, one line each.
class Report {
 public:
  template <typename... Pieces>
  void fail(const Pieces&... pieces) {
    (text << ... << pieces);
    text << '\n';
  }
  std::string str() const { return text.str(); }

 private:
  std::ostringstream text;
};

// "entity 12 (bat at 5,7)": who an entity is, for the report. Only for live entities.
std::string describe(const Entity* entity) {
  std::ostringstream out;
  out << "entity " << entity->id << " (";
  if (const auto* item = dynamic_cast<const Item*>(entity)) {
    out << "item \"" << item->name << "\" kind " << item->kind;
  } else if (const auto* creature = dynamic_cast<const NPC*>(entity)) {
    out << (creature->isPlayer ? std::string("the player") : creature->name);
  } else {
    out << "plain entity";
  }
  out << " at " << entity->x << "," << entity->y << ")";
  return out.str();
}

std::string cell(int x, int y) {
  return "tile " + std::to_string(x) + "," + std::to_string(y);
}

// Where each live entity was found: how many times in tile lists and in the inventory.
struct Sightings {
  std::map<const Entity*, int> onTiles;
  std::map<const Item*, int> carried;
  std::set<const Entity*> carriedEntities;  // the same items, for comparing bare pointers
};

// Walks every tile list: listed entities must stand on their tile, appear there once, and at
// most one of them may block.
void checkTiles(const Map& map, Sightings& seen, Report& report) {
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      const Tile& tile = map.tileAt(x, y);
      int blocking = 0;
      std::set<const Entity*> listedHere;
      for (const Entity* entity : tile.entities) {
        if (entity == nullptr) {
          report.fail(cell(x, y), " lists a null entity");
          continue;
        }
        ++seen.onTiles[entity];
        if (!listedHere.insert(entity).second) {
          report.fail(cell(x, y), " lists ", describe(entity), " more than once");
        }
        if (entity->x != x || entity->y != y) {
          report.fail(cell(x, y), " lists ", describe(entity), ", which stands elsewhere");
        }
        if (entity->blocks) ++blocking;
      }
      if (blocking > 1) {
        report.fail(cell(x, y), " holds ", blocking, " blocking entities");
      }
    }
  }
}

// The inventory: no nulls, no item twice, carried items off the map.
void checkInventory(const Player& player, Sightings& seen, Report& report) {
  for (std::size_t i = 0; i < player.inventory.size(); ++i) {
    const Item* item = player.inventory[i];
    if (item == nullptr) {
      report.fail("inventory entry ", i, " is null");
      continue;
    }
    seen.carriedEntities.insert(item);
    if (++seen.carried[item] > 1) {
      report.fail("inventory holds ", describe(item), " more than once");
    }
    if (item->x != -1 || item->y != -1) {
      report.fail("carried ", describe(item), " is not at -1,-1");
    }
    if (seen.onTiles.count(item) != 0) {
      report.fail("carried ", describe(item), " is still in a tile list");
    }
  }
}

// Whether `entity` names an entity the game still holds; compares pointers only, so it is safe
// on a pointer to a destroyed entity.
bool isLive(const Entity* entity, const Sightings& seen) {
  return seen.onTiles.count(entity) != 0 || seen.carriedEntities.count(entity) != 0;
}

// Registry entries: live, under their own id, listed on their tile when on the map.
void checkRegistry(const Game& game, const Sightings& seen, Report& report) {
  std::set<const Entity*> registered;
  for (const auto& [id, entity] : game.registry) {
    if (entity == nullptr) {
      report.fail("registry entry ", id, " is null");
      continue;
    }
    // Compare the pointer before reading through it: an entry that is neither on a tile nor in
    // the inventory may name a destroyed entity.
    if (!isLive(entity, seen)) {
      report.fail("registry entry ", id,
                  " is on no tile and in no inventory: a destroyed or lost entity");
      continue;
    }
    registered.insert(entity);
    if (entity->id != id) report.fail("registry entry ", id, " holds ", describe(entity));
    if (entity->isOnMap()) {
      if (!game.map->contains(entity->x, entity->y)) {
        report.fail("registered ", describe(entity), " stands outside the level");
        continue;
      }
      const auto found = seen.onTiles.find(entity);
      const int listed = found == seen.onTiles.end() ? 0 : found->second;
      if (listed != 1) {
        report.fail("registered ", describe(entity), " is listed ", listed, " times");
      }
    } else if (seen.carriedEntities.count(entity) == 0) {
      report.fail("registered ", describe(entity), " is off the map but not carried");
    }
  }
  for (const auto& [entity, count] : seen.onTiles) {
    if (registered.count(entity) != 0) continue;
    // Only items the player dropped that were never registered may lie on the level unregistered.
    if (dynamic_cast<const Item*>(entity) == nullptr) {
      report.fail("unregistered ", describe(entity), " stands on the level");
    }
  }
}

void checkEquipment(const Player& player, const Sightings& seen, Report& report) {
  for (std::size_t slot = 0; slot < player.equipment.size(); ++slot) {
    const Item* worn = player.equipment[slot];
    if (worn == nullptr) continue;
    if (seen.carried.count(worn) == 0) {
      report.fail("equipment slot ", slot, " holds an item that is not in the inventory");
      continue;
    }
    if (!worn->equipped) report.fail("equipment slot ", slot, " holds unequipped ", describe(worn));
    if (worn->slot != static_cast<int>(slot)) {
      report.fail("equipment slot ", slot, " holds ", describe(worn), " of slot ", worn->slot);
    }
  }
  for (const auto& [item, count] : seen.carried) {
    if (!item->equipped) continue;
    if (item->slot < 0 || item->slot >= static_cast<int>(player.equipment.size()) ||
        player.equipment[static_cast<std::size_t>(item->slot)] != item) {
      report.fail("equipped ", describe(item), " is not the one in its slot");
    }
  }
}

// Creatures stand on walkable cells away from the border, and hunt or flee only from the living.
void checkCreatures(const Game& game, const Sightings& seen, Report& report) {
  for (const auto& [id, entity] : game.registry) {
    if (entity == nullptr || !isLive(entity, seen)) continue;
    const auto* creature = dynamic_cast<const NPC*>(entity);
    if (creature == nullptr) continue;
    if (!game.map->contains(creature->x, creature->y) ||
        !game.map->isWalkable(creature->x, creature->y)) {
      report.fail(describe(creature), " does not stand on a walkable cell");
    }
    if (creature->target != nullptr && !isLive(creature->target, seen)) {
      report.fail(describe(creature), " has a target that is no longer in the game");
    }
  }
}

}  // namespace

std::string checkInvariants(const Game& game) {
  Report report;
  if (game.map == nullptr) return "the game has no level\n";
  if (game.player == nullptr) return "the game has no player\n";

  Sightings seen;
  checkTiles(*game.map, seen, report);
  checkInventory(*game.player, seen, report);
  checkRegistry(game, seen, report);
  checkEquipment(*game.player, seen, report);
  checkCreatures(game, seen, report);

  const Player& player = *game.player;
  const auto entry = game.registry.find(player.id);
  if (entry == game.registry.end() || entry->second != &player) {
    report.fail("the player is not registered under its id ", player.id);
  }
  if (player.hunger < 0) report.fail("the player's hunger is ", player.hunger);
  if (game.mode < Normal || game.mode > EndScreen) report.fail("unknown mode ", game.mode);
  if (game.storyStage < 0 || game.storyStage > Game::kLastStoryStage) {
    report.fail("story stage ", game.storyStage, " is outside 0..", Game::kLastStoryStage);
  }
  return report.str();
}

}  // namespace harness

#include "Headless.hpp"

#include <string>
#include <type_traits>

#include "Entity.hpp"
#include "Game.hpp"
#include "Item.hpp"
#include "Map.hpp"
#include "MessageLog.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Tile.hpp"

namespace harness {
namespace {

// 64-bit FNV-1a over explicitly laid out bytes, so the hash is the same on every machine.
class Fnv1a {
 public:
  void byte(std::uint8_t value) {
    hash ^= value;
    hash *= 0x100000001B3ull;
  }
  void number(std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    for (int shift = 0; shift < 64; shift += 8)
      byte(static_cast<std::uint8_t>(bits >> shift));
  }
  void flag(bool value) { byte(value ? 1 : 0); }
  void text(const std::string& value) {
    number(static_cast<std::int64_t>(value.size()));
    for (char c : value)
      byte(static_cast<std::uint8_t>(c));
  }
  // Each value in turn: a bool as a flag, any other number as a number.
  template <typename... Values>
  void fields(const Values&... values) {
    (field(values), ...);
  }
  std::uint64_t value() const { return hash; }

 private:
  template <typename Value>
  void field(const Value& value) {
    if constexpr (std::is_same_v<Value, bool>) {
      flag(value);
    } else {
      number(static_cast<std::int64_t>(value));
    }
  }

  std::uint64_t hash = 0xCBF29CE484222325ull;
};

// What kind of entity a hash line stands for.
enum EntityTag : std::uint8_t { PlainTag = 0, ItemTag = 1, CreatureTag = 2, PlayerTag = 3 };

void hashCreature(Fnv1a& hash, const NPC& creature) {
  hash.fields(creature.kind, creature.hp, creature.maxHp, creature.angry, creature.fleeing,
              creature.fleeCounter, creature.turnsSinceAttack, creature.energy, creature.armor,
              creature.weaponDamage);
  hash.number(creature.target != nullptr ? static_cast<std::int64_t>(creature.target->id) : -1);
}

void hashItem(Fnv1a& hash, const Item& item) {
  hash.number(item.kind);
  hash.text(item.name);
  hash.fields(item.equipped, item.slot, item.bonus);
}

void hashEntity(Fnv1a& hash, const Entity& entity) {
  const auto* item = dynamic_cast<const Item*>(&entity);
  const auto* creature = dynamic_cast<const NPC*>(&entity);
  const EntityTag tag = item != nullptr       ? ItemTag
                        : creature == nullptr ? PlainTag
                        : creature->isPlayer  ? PlayerTag
                                              : CreatureTag;
  hash.byte(tag);
  hash.fields(entity.id, entity.x, entity.y, entity.glyph, entity.blocks, entity.dead,
              entity.playerSide);
  if (item != nullptr) hashItem(hash, *item);
  if (creature != nullptr) hashCreature(hash, *creature);
}

}  // namespace

std::uint64_t stateHash(const Game& game) {
  Fnv1a hash;
  hash.fields(game.turnCount, game.killCount, game.storyStage, game.mode);

  const Player& player = *game.player;
  hash.fields(player.hunger, player.regenCounter);
  hash.number(static_cast<std::int64_t>(player.inventory.size()));
  for (const Item* item : player.inventory) {
    hash.number(item->id);
    hashItem(hash, *item);
  }
  for (const Item* worn : player.equipment) {
    hash.number(worn != nullptr ? static_cast<std::int64_t>(worn->id) : -1);
  }

  hash.number(static_cast<std::int64_t>(game.registry.size()));
  for (const auto& [id, entity] : game.registry) {
    hash.number(id);
    hashEntity(hash, *entity);
  }

  const Map& map = *game.map;
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      const Tile& tile = map.tileAt(x, y);
      hash.flag(tile.explored);
      // What lies on the level, in arrival order, including dropped items nobody registered.
      if (tile.entities.empty()) continue;
      hash.number(static_cast<std::int64_t>(tile.entities.size()));
      for (const Entity* entity : tile.entities)
        hash.number(entity->id);
    }
  }

  hash.number(static_cast<std::int64_t>(game.messageLog.entries().size()));
  for (const MessageLog::Entry& entry : game.messageLog.entries()) {
    hash.text(entry.text);
    hash.number(entry.height);
  }
  return hash.value();
}

}  // namespace harness

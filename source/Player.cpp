#include "Player.hpp"

#include <memory>

#include "Item.hpp"
#include "Map.hpp"
#include "MessageLog.hpp"

// The parameters carry the names of the fields they set.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
Player::Player(MessageLog* messageLog, Map* map, int x, int y)
    : NPC(messageLog, map, x, y, PlayerKind) {
  name = "You";
  glyph = '@';
  maxHp = hp = 20;
  baseDamage = 1;
  damageRange = 3;
  accuracy = 7;
  isPlayer = true;
  playerSide = true;
  receive(MysteriousMeat);
}
#pragma GCC diagnostic pop

Player::~Player() {
  for (Item* item : inventory)
    delete item;
}

void Player::takeTurn() {
  ++hunger;
  if (++regenCounter > kHealingPeriod) {
    regenCounter = 0;
    if (hp < maxHp && hunger < kHealingHungerLimit) ++hp;
  }
  if (hunger >= kStarvation) dead = true;
}

bool Player::pickUp() {
  Item* item = nullptr;
  for (Entity* entity : map->tileAt(x, y).entities) {
    item = dynamic_cast<Item*>(entity);
    if (item != nullptr) break;
  }
  if (item == nullptr) return false;
  if (inventory.size() > kPickUpLimit) {
    messageLog->add("Your inventory is too full to pick up " + item->name + ".");
    return false;
  }
  item->takeOffMap();
  inventory.push_back(item);
  messageLog->add("You pick up " + item->name + ".");
  return true;
}

void Player::drop(unsigned index) {
  if (index >= inventory.size()) return;
  Item* item = inventory[index];
  if (item->equipped) return;
  if (item->kind == BloodyNote) {
    messageLog->add("You can't drop that.");
    return;
  }
  map->tileAt(x, y).add(item);
  item->x = x;
  item->y = y;
  inventory.erase(inventory.begin() + index);
}

Item* Player::useItem(unsigned index) {
  if (index >= inventory.size()) return nullptr;
  Item* item = inventory[index];
  if (item->kind == BloodyNote) return item;
  if (item->butcherable) {
    item->butcher(this);
  } else if (item->eatable) {
    hunger -= item->eat();
    if (hunger < 0) hunger = 0;
  } else if (item->craftable) {
    item->craft(this);
  } else {
    toggleEquipment(item);
    return nullptr;
  }
  consume(index);
  return nullptr;
}

void Player::receive(int itemKind) {
  auto item = std::make_unique<Item>(messageLog, map, -1, -1, itemKind);
  inventory.push_back(item.get());  // may throw: the item is freed until the inventory holds it
  item.release();
}

void Player::toggleEquipment(Item* item) {
  if (item->slot == NoSlot) return;
  Item*& worn = equipment[static_cast<std::size_t>(item->slot)];
  int& bonusTarget = bonusAddsToArmour(item->kind) ? armor : weaponDamage;
  if (worn == nullptr) {
    worn = item;
    item->equipped = true;
    bonusTarget += item->bonus;
  } else if (item->equipped) {
    worn = nullptr;
    item->equipped = false;
    bonusTarget -= item->bonus;
  }
}

// The item at `index` was used up: it leaves the registry (if it was there) before it is
// destroyed, so the registry never holds a destroyed entity. The actions before only append to
// the inventory, so `index` still names the used item.
void Player::consume(unsigned index) {
  Item* item = inventory[index];
  unregisterFrom(*map->registry, item);
  delete item;
  inventory.erase(inventory.begin() + index);
}

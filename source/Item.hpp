#pragma once

#include <cstddef>
#include <string>

#include "Entity.hpp"

class Player;

// Item kind numbers come in bands: 1-5 corpses, 8-12 materials, 15-20 food, 23-41 equipment,
// 44 the note. Only these numbers have names; any other number is "an unidentified item".
enum ItemKind : int {
  BatCorpse = 1,
  BearCorpse = 3,
  KittenCorpse = 4,
  SnakeCorpse = 5,
  BatPelt = 8,
  BearPelt = 10,
  SmallStone = 11,
  BatMeat = 15,
  SnakeMeat = 17,
  BearMeat = 19,
  MysteriousMeat = 20,
  BatPeltHat = 24,
  BearPeltHelmet = 26,
  BatPeltShirt = 29,
  BearPeltArmor = 31,
  BatPeltPants = 34,
  BearPeltLeggings = 36,
  SharpenedStone = 39,
  BearClaw = 41,
  BloodyNote = 44,
};

// Index into the player's equipment.
enum EquipSlot : int {
  NoSlot = -1,
  Weapon = 0,
  Head = 1,
  Body = 2,
  Legs = 3,
};
constexpr std::size_t kSlotCount = Legs + 1;

// A band of kind numbers: its first and its last kind. The band a kind falls in decides its
// flag, glyph and slot, named or not.
struct KindBand {
  int first;
  int last;
};
inline constexpr KindBand kCorpseBand{1, 5};
inline constexpr KindBand kMaterialBand{8, 12};
inline constexpr KindBand kFoodBand{15, 20};
inline constexpr KindBand kHeadGearBand{23, 26};
inline constexpr KindBand kBodyGearBand{27, 31};
inline constexpr KindBand kLegGearBand{32, 36};
inline constexpr KindBand kWeaponBand{37, 41};
inline constexpr int kFirstKeepsakeKind = 42;  // and every kind above: the note's band

// How much hunger eating an item of `kind` takes away; 0 for anything that is not food.
int nutritionOf(int kind);
// Whether butchering a corpse of `kind` yields anything (the kitten's yields nothing).
bool yieldsProducts(int corpseKind);
// Whether the bonus of equipment of `kind` counts toward armour (true) or weapon damage.
bool bonusAddsToArmour(int kind);

// Anything the player can find, carry, eat, craft, wear or read; all of it follows from `kind`.
class Item : public Entity {
 public:
  // Derives glyph, flags, slot and name from `kind`; equipment draws its bonus with one rand().
  // The item is in no tile list and no inventory until its creator puts it there.
  Item(MessageLog* messageLog, Map* map, int x, int y, int kind);
  ~Item() override = default;

  // Logs the meal and returns how much hunger it takes away. Requires `eatable`.
  int eat();
  // Appends the crafted product (if the recipe has one) to `player`'s inventory. Requires
  // `craftable`.
  void craft(Player* player);
  // Logs the work and appends the products to `player`'s inventory. Requires `butcherable`.
  void butcher(Player* player);

  std::string name;
  bool eatable = false;
  bool butcherable = false;
  bool craftable = false;
  bool equipped = false;
  int kind;
  int slot = NoSlot;
  int bonus = 0;

 private:
  void applyBand();
  void setUpKind(int kind);
};

#pragma once

#include <array>
#include <vector>

#include "NPC.hpp"

class Item;

// The creature the user steers: an NPC with an inventory, four equipment slots and hunger.
class Player : public NPC {
 public:
  static constexpr int kStartingHunger = 50;
  static constexpr int kHealingPeriod = 5;  // heals when the counter passes this: every 6th turn
  static constexpr int kHealingHungerLimit = 150;
  static constexpr int kStarvation = 250;
  static constexpr std::size_t kPickUpLimit = 22;

  // The player's values and its starting "mysterious hunk of meat".
  Player(MessageLog* messageLog, Map* map, int x, int y);
  // Destroys every carried item.
  ~Player() override;

  // Hunger rises, healing comes every sixth turn below the hunger limit, starvation kills.
  void takeTurn() override;
  // Takes the oldest item under the player; true when one was taken (the turn is used).
  bool pickUp();
  // Puts entry `index` on the player's tile, unless it is worn or the note.
  void drop(unsigned index);
  // Reads, butchers, eats, crafts, equips or unequips entry `index`, in that order of checks.
  // Returns the note when the entry is the note, nullptr otherwise.
  Item* useItem(unsigned index);
  // Creates a new item of `itemKind` (equipment draws its bonus with one rand()) and appends it
  // to the inventory, which owns it from now on; it is on no tile and never registered.
  void receive(int itemKind);

  // Owns every item in it, registered or not, in order of arrival.
  std::vector<Item*> inventory;
  // Refers to inventory items that are worn, by EquipSlot.
  std::array<Item*, kSlotCount> equipment{};
  int hunger = kStartingHunger;
  int regenCounter = 0;

 private:
  void toggleEquipment(Item* item);
  void consume(unsigned index);
};

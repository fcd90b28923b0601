// The player: its values, hunger and healing, and picking up, dropping and using items, driven
// through the keys as a player would.

#include "Game.hpp"
#include "Item.hpp"
#include "Keys.hpp"
#include "Player.hpp"
#include "Scenario.hpp"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdlib>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace {

// A walled room with nobody else in it; the player stands at (3, 2).
std::unique_ptr<Game> emptyRoom() {
  return harness::gameFromDrawing({
      "#######",
      "#.....#",
      "#..@..#",
      "#.....#",
      "#######",
  });
}

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { game = freshRoom(); }

  // The two early memories are already told, so the log holds only what the actions say.
  static std::unique_ptr<Game> freshRoom() {
    auto room = emptyRoom();
    room->storyStage = 2;
    return room;
  }

  Player& player() { return *game->player; }

  // A new item made straight into the inventory, as butchering or the Home key makes them.
  Item* carry(int kind) { return harness::carry(*game, kind); }
  // A new registered item lying on the player's cell, as a corpse or a stone lies there.
  Item* layUnderfoot(int kind) {
    auto* item = new Item(&game->messageLog, game->map.get(), player().x, player().y, kind);
    game->map->addEntity(item);
    return item;
  }
  // Presses the keys of `script`, one update each, then makes sure the script was used up.
  void press(const std::string& script) { ASSERT_TRUE(harness::press(*game, script)); }
  std::vector<std::string> names() {
    std::vector<std::string> list;
    for (const Item* item : player().inventory)
      list.push_back(item->name);
    return list;
  }
  bool isRegistered(const Entity* entity) { return harness::isRegistered(*game, entity); }
  const std::list<Entity*>& underfoot() {
    return game->map->tileAt(player().x, player().y).entities;
  }

  std::unique_ptr<Game> game;
};

// ---- Values ----------------------------------------------------------------------------------

TEST_F(PlayerTest, StartsWithItsOwnValuesAndAMysteriousHunkOfMeat) {
  const Player& you = player();
  EXPECT_EQ(you.name, "You");
  EXPECT_EQ(you.glyph, '@');
  EXPECT_EQ(you.hp, 20);
  EXPECT_EQ(you.maxHp, 20);
  EXPECT_EQ(you.baseDamage, 1);
  EXPECT_EQ(you.damageRange, 3);
  EXPECT_EQ(you.accuracy, 7);
  EXPECT_EQ(you.armor, 1);
  EXPECT_EQ(you.weaponDamage, 1);
  EXPECT_TRUE(you.isPlayer);
  EXPECT_TRUE(you.playerSide);
  EXPECT_TRUE(you.blocks);
  EXPECT_EQ(you.kind, 0);
  EXPECT_EQ(you.hunger, 50);
  EXPECT_EQ(you.regenCounter, 0);
  for (const Item* worn : you.equipment)
    EXPECT_EQ(worn, nullptr);

  ASSERT_EQ(you.inventory.size(), 1u);
  const Item& meat = *you.inventory[0];
  EXPECT_EQ(meat.kind, MysteriousMeat);
  EXPECT_EQ(meat.name, "mysterious hunk of meat");
  EXPECT_EQ(meat.x, -1);
  EXPECT_EQ(meat.y, -1);
  EXPECT_FALSE(isRegistered(&meat));
}

// ---- Hunger and healing ----------------------------------------------------------------------

TEST_F(PlayerTest, HungerRisesByOneEachTurnAndNotOnRefusedActions) {
  press("...");
  EXPECT_EQ(player().hunger, 53);
  press("kkkk");  // north twice into the wall: only two steps pass a turn
  EXPECT_EQ(player().hunger, 54);
  EXPECT_EQ(game->turnCount, 4);
  press("g");  // nothing to pick up
  EXPECT_EQ(player().hunger, 54);
}

TEST_F(PlayerTest, HealsOneEverySixthTurn) {
  player().hp = 15;
  for (int turn = 1; turn <= 30; ++turn) {
    press(".");
    ASSERT_EQ(player().hp, 15 + turn / 6) << "after turn " << turn;
  }
  EXPECT_EQ(player().hp, 20);
  press(std::string(12, '.'));
  EXPECT_EQ(player().hp, 20);  // never above the maximum
}

TEST_F(PlayerTest, DoesNotHealOnceHungerReaches150) {
  player().hp = 10;
  player().hunger = 144;  // 150 on the sixth turn
  press("......");
  EXPECT_EQ(player().hp, 10);

  game = freshRoom();
  player().hp = 10;
  player().hunger = 143;  // 149 on the sixth turn
  press("......");
  EXPECT_EQ(player().hp, 11);
}

TEST_F(PlayerTest, StarvesAtTheEndOfTurn200WithoutEating) {
  press(std::string(199, '.'));
  EXPECT_FALSE(player().dead);
  EXPECT_EQ(player().hunger, 249);
  press(".");
  EXPECT_TRUE(player().dead);
  EXPECT_EQ(game->turnCount, 200);
  EXPECT_EQ(harness::lastMessage(*game), "You have died alone...");
  // From now on keys only redraw; Escape ends the run.
  press(".i");
  EXPECT_EQ(game->turnCount, 200);
  EXPECT_EQ(game->mode, Normal);
  harness::KeyScript escape("<Esc>");
  EXPECT_FALSE(game->update());
}

// ---- Picking up ------------------------------------------------------------------------------

TEST_F(PlayerTest, PickUpTakesTheOldestItemUnderfootAndPassesATurn) {
  Item* stone = layUnderfoot(SmallStone);
  Item* meat = layUnderfoot(BatMeat);
  press("g");
  EXPECT_EQ(game->turnCount, 1);
  ASSERT_EQ(player().inventory.size(), 2u);
  EXPECT_EQ(player().inventory[1], stone);
  EXPECT_EQ(stone->x, -1);
  EXPECT_EQ(stone->y, -1);
  EXPECT_TRUE(isRegistered(stone));  // still the game's entry while carried
  EXPECT_EQ(harness::lastMessage(*game), "You pick up a small stone.");
  EXPECT_EQ(underfoot().back(), meat);

  press("g");
  EXPECT_EQ(player().inventory.back(), meat);
  EXPECT_EQ(harness::lastMessage(*game), "You pick up bat meat.");
  EXPECT_EQ(underfoot().size(), 1u);  // only the player is left
}

TEST_F(PlayerTest, PickUpOnAnEmptyCellIsRefusedSilently) {
  const std::vector<std::string> before = harness::messages(*game);
  EXPECT_FALSE(player().pickUp());
  press("g");
  EXPECT_EQ(game->turnCount, 0);
  EXPECT_EQ(harness::messages(*game), before);
  EXPECT_EQ(player().inventory.size(), 1u);
}

TEST_F(PlayerTest, PickUpStopsAt23Items) {
  for (int i = 0; i < 21; ++i)
    carry(BatMeat);
  ASSERT_EQ(player().inventory.size(), 22u);
  layUnderfoot(SmallStone);
  press("g");
  EXPECT_EQ(player().inventory.size(), 23u);

  Item* second = layUnderfoot(SmallStone);
  press("g");
  EXPECT_EQ(game->turnCount, 1);  // the refusal took no turn
  EXPECT_EQ(player().inventory.size(), 23u);
  EXPECT_EQ(harness::lastMessage(*game), "Your inventory is too full to pick up a small stone.");
  EXPECT_EQ(underfoot().back(), second);
  EXPECT_EQ(second->x, player().x);
  EXPECT_EQ(second->y, player().y);
}

// ---- Dropping --------------------------------------------------------------------------------

TEST_F(PlayerTest, DropPutsTheEntryUnderfootAndMovesTheRestUp) {
  Item* stone = layUnderfoot(SmallStone);
  press("g");
  carry(BatMeat);
  ASSERT_EQ(names(),
            (std::vector<std::string>{"mysterious hunk of meat", "a small stone", "bat meat"}));
  press("db");
  EXPECT_EQ(game->turnCount, 2);
  EXPECT_EQ(names(), (std::vector<std::string>{"mysterious hunk of meat", "bat meat"}));
  EXPECT_EQ(underfoot().back(), stone);
  EXPECT_EQ(stone->x, player().x);
  EXPECT_EQ(stone->y, player().y);
  EXPECT_TRUE(isRegistered(stone));

  press("bb");  // the bat meat is "b" now
  EXPECT_EQ(names(), std::vector<std::string>{"mysterious hunk of meat"});
  EXPECT_FALSE(isRegistered(underfoot().back()));  // dropping does not register
  press("a");
  EXPECT_TRUE(player().inventory.empty());
  EXPECT_EQ(game->mode, Drop);
}

TEST_F(PlayerTest, TheNoteCannotBeDropped) {
  carry(BloodyNote);
  press("db");
  EXPECT_EQ(harness::lastMessage(*game), "You can't drop that.");
  EXPECT_EQ(player().inventory.size(), 2u);
  EXPECT_EQ(underfoot().size(), 1u);
  EXPECT_EQ(game->turnCount, 1);
}

TEST_F(PlayerTest, WornGearAndPositionsPastTheEndAreNotDropped) {
  Item* hat = carry(BatPeltHat);
  press("ib<Esc>");
  ASSERT_TRUE(hat->equipped);
  const std::vector<std::string> logBefore = harness::messages(*game);
  const int turns = game->turnCount;
  press("dbcq");
  EXPECT_EQ(game->turnCount, turns + 3);  // each key still passes a turn
  EXPECT_EQ(harness::messages(*game), logBefore);
  EXPECT_EQ(player().inventory.size(), 2u);
  EXPECT_TRUE(hat->equipped);
  EXPECT_EQ(player().equipment[Head], hat);
  EXPECT_EQ(underfoot().size(), 1u);
  player().drop(4000000000u);
  EXPECT_EQ(player().inventory.size(), 2u);
}

// ---- Using -----------------------------------------------------------------------------------

TEST_F(PlayerTest, UseChecksTheNoteThenButcheringEatingCraftingAndLastTheSlot) {
  // Flags are set by hand here to pin down which check wins when more than one could apply.
  Item* note = carry(BloodyNote);
  note->butcherable = true;
  EXPECT_EQ(player().useItem(1), note);
  EXPECT_EQ(player().inventory.size(), 2u);
  player().inventory.pop_back();
  delete note;

  Item* corpse = carry(BatCorpse);
  corpse->eatable = true;
  const int hunger = player().hunger;
  EXPECT_EQ(player().useItem(1), nullptr);
  EXPECT_EQ(player().hunger, hunger);
  EXPECT_EQ(harness::lastMessage(*game), "You butcher the bat corpse.");
  while (player().inventory.size() > 1) {
    delete player().inventory.back();
    player().inventory.pop_back();
  }

  Item* meat = carry(BearMeat);
  meat->craftable = true;
  EXPECT_EQ(player().useItem(1), nullptr);
  EXPECT_EQ(player().hunger, 0);
  EXPECT_EQ(player().inventory.size(), 1u);  // eaten, nothing crafted

  Item* stone = carry(SmallStone);
  stone->slot = Weapon;
  EXPECT_EQ(player().useItem(1), nullptr);
  EXPECT_EQ(player().equipment[Weapon], nullptr);
  ASSERT_EQ(player().inventory.size(), 2u);
  EXPECT_EQ(player().inventory[1]->kind, SharpenedStone);

  EXPECT_EQ(player().useItem(2), nullptr);  // past the end
  EXPECT_EQ(player().inventory.size(), 2u);
  Item* odd = carry(45);  // no slot, no action
  EXPECT_EQ(player().useItem(2), nullptr);
  EXPECT_EQ(player().inventory[2], odd);
}

TEST_F(PlayerTest, UsingUpAnItemErasesItsEntryAndKeepsTheOrder) {
  // The corpse is picked up first, then four pieces of meat from the Home key.
  Item* corpse = layUnderfoot(BearCorpse);
  press("g");
  press("da<Esc>");  // the starting meat goes to the floor: the corpse becomes "a"
  press("<Home><Home><Home><Home>");
  ASSERT_EQ(player().inventory.size(), 5u);
  ASSERT_EQ(player().inventory[0], corpse);
  const std::uint32_t corpseId = corpse->id;
  ASSERT_TRUE(isRegistered(corpse));
  const std::size_t registered = game->registry.size();

  press("ia");
  ASSERT_EQ(player().inventory.size(), 7u);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(player().inventory[i]->name, "bat meat");
  EXPECT_EQ(player().inventory[4]->name, "bear pelt");
  EXPECT_EQ(player().inventory[5]->name, "bear meat");
  const Item& claw = *player().inventory[6];
  EXPECT_EQ(claw.kind, BearClaw);
  EXPECT_EQ(claw.name, "severed bear claw(+" + std::to_string(claw.bonus) + ")");
  EXPECT_EQ(game->registry.count(corpseId), 0u);
  EXPECT_EQ(game->registry.size(), registered - 1);
  for (const Item* item : player().inventory)
    EXPECT_FALSE(isRegistered(item));
  EXPECT_EQ(harness::lastMessage(*game), "You butcher the bear corpse.");
  EXPECT_EQ(game->mode, Inventory);
}

TEST_F(PlayerTest, ButcheringGoesPastTheCarryingLimit) {
  Item* corpse = layUnderfoot(BearCorpse);
  press("g");
  for (int i = 0; i < 21; ++i)
    carry(BatMeat);
  ASSERT_EQ(player().inventory.size(), 23u);
  ASSERT_EQ(player().inventory[1], corpse);
  press("ib");
  EXPECT_EQ(player().inventory.size(), 25u);
  EXPECT_EQ(player().inventory.back()->kind, BearClaw);
}

TEST_F(PlayerTest, ButcheringTheKittenYieldsNothingButStillUsesTheCorpse) {
  carry(KittenCorpse);
  press("ib");
  EXPECT_EQ(player().inventory.size(), 1u);
  EXPECT_EQ(harness::lastMessage(*game),
            "Nothing is yielded from the kitten corpse... you monster.");
}

TEST_F(PlayerTest, CraftingAPickedUpStoneUnregistersItAndAppendsTheWeapon) {
  Item* stone = layUnderfoot(SmallStone);
  press("g");
  carry(BatMeat);
  const std::uint32_t stoneId = stone->id;
  const std::vector<std::string> logBefore = harness::messages(*game);
  press("ib");
  ASSERT_EQ(player().inventory.size(), 3u);
  EXPECT_EQ(player().inventory[0]->kind, MysteriousMeat);
  EXPECT_EQ(player().inventory[1]->kind, BatMeat);
  EXPECT_EQ(player().inventory[2]->kind, SharpenedStone);
  EXPECT_EQ(game->registry.count(stoneId), 0u);
  EXPECT_EQ(harness::messages(*game), logBefore);
  EXPECT_EQ(player().weaponDamage, 1);  // not wielded until equipped
}

TEST_F(PlayerTest, EatingLowersHungerNeverBelowZero) {
  player().hunger = 100;
  carry(BatMeat);
  player().useItem(1);
  EXPECT_EQ(player().hunger, 61);
  EXPECT_EQ(harness::lastMessage(*game), "You eat the raw bat meat. It tastes disgusting.");

  player().hunger = 100;
  carry(BatMeat);
  press("ib");
  EXPECT_EQ(player().hunger, 62);  // the choice itself takes the turn

  carry(BearMeat);
  player().hunger = 50;
  press("b");
  EXPECT_EQ(player().hunger, 1);
  EXPECT_EQ(harness::lastMessage(*game), "You eat the raw bear meat. You feel like a badass.");

  press("a");  // the starting meat
  EXPECT_EQ(player().hunger, 1);
  EXPECT_EQ(harness::lastMessage(*game), "You eat the raw meat. It sates your hunger for now.");
  EXPECT_TRUE(player().inventory.empty());
}

TEST_F(PlayerTest, EatingTheFirstOfThreeMovesTheOthersUp) {
  carry(SnakeMeat);
  carry(SmallStone);
  const std::size_t registered = game->registry.size();
  press("ia");
  EXPECT_EQ(names(), (std::vector<std::string>{"snake meat", "a small stone"}));
  EXPECT_EQ(game->registry.size(), registered);
  press("a");
  EXPECT_EQ(harness::lastMessage(*game), "You eat the raw snake meat. Not bad.");
}

TEST_F(PlayerTest, EquippingAddsTheBonusOnceAndUnequippingTakesItBack) {
  Item* hat = carry(BatPeltHat);
  Item* secondHat = carry(BearPeltHelmet);
  Item* claw = carry(BearClaw);
  press("ib");
  EXPECT_TRUE(hat->equipped);
  EXPECT_EQ(player().equipment[Head], hat);
  EXPECT_EQ(player().armor, 1 + hat->bonus);

  press("c");  // the slot is taken: nothing changes
  EXPECT_FALSE(secondHat->equipped);
  EXPECT_EQ(player().equipment[Head], hat);
  EXPECT_EQ(player().armor, 1 + hat->bonus);

  press("d");
  EXPECT_EQ(player().equipment[Weapon], claw);
  EXPECT_EQ(player().weaponDamage, 1 + claw->bonus);
  EXPECT_EQ(player().armor, 1 + hat->bonus);

  press("bd");
  EXPECT_FALSE(hat->equipped);
  EXPECT_FALSE(claw->equipped);
  EXPECT_EQ(player().equipment[Head], nullptr);
  EXPECT_EQ(player().armor, 1);
  EXPECT_EQ(player().weaponDamage, 1);

  press("c");  // now the helmet fits
  EXPECT_EQ(player().equipment[Head], secondHat);
  EXPECT_EQ(player().armor, 1 + secondHat->bonus);
  EXPECT_EQ(player().inventory.size(), 4u);  // equipping uses nothing up
}

TEST_F(PlayerTest, KindsUpTo37CountTowardArmourAndAboveTowardDamage) {
  Item* low = carry(37);  // an unnamed kind in the weapon slot
  low->bonus = 4;
  player().useItem(1);
  EXPECT_EQ(player().armor, 5);
  EXPECT_EQ(player().weaponDamage, 1);
  player().useItem(1);
  Item* high = carry(38);
  high->bonus = 4;
  player().useItem(2);
  EXPECT_EQ(player().armor, 1);
  EXPECT_EQ(player().weaponDamage, 5);
}

// ---- Teardown --------------------------------------------------------------------------------

TEST(PlayerTeardownTest, CarriedRegisteredAndDroppedUnregisteredItemsAreReleasedOnce) {
  {
    auto game = emptyRoom();
    Player& player = *game->player;
    auto* corpse = new Item(&game->messageLog, game->map.get(), player.x, player.y, BatCorpse);
    game->map->addEntity(corpse);
    harness::KeyScript keys("g<Home>dc<Esc>");  // pick the corpse up, drop a fresh piece of meat
    while (keys.remaining() > 0)
      ASSERT_TRUE(game->update());
    ASSERT_EQ(player.inventory.back(), corpse);
    ASSERT_EQ(game->registry.count(corpse->id), 1u);
    ASSERT_EQ(game->map->tileAt(player.x, player.y).entities.size(), 2u);
  }
#if defined(__SANITIZE_ADDRESS__)
  // A double free would already have stopped the program; here nothing may be left behind.
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace

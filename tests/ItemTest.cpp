// Items: what a kind number makes of an item, and eating, butchering and crafting.

#include "Item.hpp"
#include "MessageLog.hpp"
#include "Player.hpp"
#include "Scenario.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- What the kind number decides ------------------------------------------------------------

enum Flag { NoFlag, Butcherable, Craftable, Eatable };

struct Band {
  int first;
  int last;
  int glyph;
  Flag flag;
  int slot;
};

// The bands of kind numbers, as a player finds them in the cave.
constexpr Band kBands[] = {
    // first, last, glyph, flag, slot
    {INT_MIN, 0, 1, NoFlag, NoSlot}, {1, 5, '%', Butcherable, NoSlot},
    {6, 7, 1, NoFlag, NoSlot},       {8, 12, '!', Craftable, NoSlot},
    {13, 14, 1, NoFlag, NoSlot},     {15, 20, '%', Eatable, NoSlot},
    {21, 22, 1, NoFlag, NoSlot},     {23, 26, '[', NoFlag, Head},
    {27, 31, '[', NoFlag, Body},     {32, 36, '[', NoFlag, Legs},
    {37, 41, ')', NoFlag, Weapon},   {42, INT_MAX, '[', NoFlag, NoSlot},
};

const Band& bandOf(int kind) {
  for (const Band& band : kBands) {
    if (kind >= band.first && kind <= band.last) return band;
  }
  return kBands[0];
}

struct Named {
  int kind;
  const char* name;
  int bonusBase;   // equipment only
  int bonusCount;  // how many bonus values it can roll; 0: none
};

constexpr Named kNamed[] = {
    // kind, name, lowest bonus, number of bonus values
    {1, "a bat corpse", 0, 0},
    {3, "a bear corpse", 0, 0},
    {4, "a kitten corpse", 0, 0},
    {5, "a snake corpse", 0, 0},
    {8, "bat pelt", 0, 0},
    {10, "bear pelt", 0, 0},
    {11, "a small stone", 0, 0},
    {15, "bat meat", 0, 0},
    {17, "snake meat", 0, 0},
    {19, "bear meat", 0, 0},
    {20, "mysterious hunk of meat", 0, 0},
    {24, "bat pelt hat", 1, 2},
    {26, "bear pelt helmet", 3, 2},
    {29, "bat pelt shirt", 1, 3},
    {31, "bear pelt armor", 3, 3},
    {34, "bat pelt pants", 1, 2},
    {36, "bear pelt leggings", 3, 2},
    {39, "a sharpened stone", 1, 2},
    {41, "severed bear claw", 3, 3},
    {44, "a crumpled bloody note", 0, 0},
};

const Named* namedKind(int kind) {
  for (const Named& named : kNamed) {
    if (named.kind == kind) return &named;
  }
  return nullptr;
}

// The numbers from `first` to `last` that no kind above names, lowest first: the unnamed
// examples below, so that a kind added to the table above takes its number out of them.
std::vector<int> unnamedIn(int first, int last) {
  std::vector<int> unnamed;
  for (int kind = first; kind <= last; ++kind) {
    if (namedKind(kind) == nullptr) unnamed.push_back(kind);
  }
  return unnamed;
}

bool isEquipmentKind(int kind) {
  const Named* named = namedKind(kind);
  return named != nullptr && named->bonusCount > 0;
}

std::string withBonus(const std::string& name, int bonus) {
  return name + "(+" + std::to_string(bonus) + ")";
}

using harness::seedWhoseFirstDraw;

class ItemTest : public ::testing::Test {
 protected:
  std::unique_ptr<Item> make(int kind) {
    return std::make_unique<Item>(&log, nullptr, -1, -1, kind);
  }

  MessageLog log;
};

TEST_F(ItemTest, EveryKindNumberTakesTheGlyphFlagsAndSlotOfItsBand) {
  for (int kind = -2; kind <= 50; ++kind) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const auto item = make(kind);
    const Band& band = bandOf(kind);
    const int glyph = kind == SmallStone ? 7 : band.glyph;
    EXPECT_EQ(static_cast<int>(item->glyph), glyph);
    EXPECT_EQ(item->butcherable, band.flag == Butcherable);
    EXPECT_EQ(item->craftable, band.flag == Craftable);
    EXPECT_EQ(item->eatable, band.flag == Eatable);
    EXPECT_EQ(item->slot, band.slot);
    EXPECT_EQ(item->kind, kind);
    EXPECT_FALSE(item->equipped);
    EXPECT_FALSE(item->blocks);
    EXPECT_EQ(item->x, -1);
    EXPECT_EQ(item->y, -1);
  }
}

TEST_F(ItemTest, NamesComeFromTheNamedKindsWithTheBonusAppendedToWornThings) {
  for (int kind = -2; kind <= 50; ++kind) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const auto item = make(kind);
    const Named* named = namedKind(kind);
    const std::string base = named != nullptr ? named->name : "an unidentified item";
    if (bandOf(kind).slot == NoSlot) {
      EXPECT_EQ(item->name, base);
      EXPECT_EQ(item->bonus, 0);
    } else {
      EXPECT_EQ(item->name, withBonus(base, item->bonus));
    }
    if (named == nullptr || named->bonusCount == 0) {
      EXPECT_EQ(item->bonus, 0);
    }
  }
}

TEST_F(ItemTest, EdgesOfTheBands) {
  // Unnamed numbers inside the action bands keep the band's action (2; 9 and 12; 16 and 18).
  for (const int kind : unnamedIn(1, 5)) {
    EXPECT_TRUE(make(kind)->butcherable) << kind;
    EXPECT_EQ(make(kind)->name, "an unidentified item") << kind;
  }
  for (const int kind : unnamedIn(8, 12)) {
    EXPECT_TRUE(make(kind)->craftable) << kind;
    EXPECT_EQ(static_cast<int>(make(kind)->glyph), '!') << kind;
  }
  for (const int kind : unnamedIn(15, 20))
    EXPECT_TRUE(make(kind)->eatable) << kind;

  for (int kind : {0, 6, 7, 13, 14, 21, 22}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const auto item = make(kind);
    EXPECT_EQ(static_cast<int>(item->glyph), 1);
    EXPECT_FALSE(item->eatable || item->butcherable || item->craftable);
    EXPECT_EQ(item->slot, NoSlot);
  }

  // Past the equipment there is no slot and so no suffix. Numbers below 1 sit in no band at all.
  for (int kind : {42, 43, 45, 1000}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const auto item = make(kind);
    EXPECT_EQ(static_cast<int>(item->glyph), '[');
    EXPECT_EQ(item->slot, NoSlot);
    EXPECT_EQ(item->name, "an unidentified item");
  }
  const auto negative = make(-1);
  EXPECT_EQ(static_cast<int>(negative->glyph), 1);
  EXPECT_EQ(negative->slot, NoSlot);
  EXPECT_EQ(negative->name, "an unidentified item");

  const auto note = make(BloodyNote);
  EXPECT_EQ(static_cast<int>(note->glyph), '[');
  EXPECT_EQ(note->slot, NoSlot);
  EXPECT_EQ(note->name, "a crumpled bloody note");

  EXPECT_EQ(static_cast<int>(make(SmallStone)->glyph), 7);
  for (const int hat : unnamedIn(23, 26)) {  // 23 and 25
    EXPECT_EQ(make(hat)->name, "an unidentified item(+0)") << hat;
    EXPECT_EQ(make(hat)->slot, Head) << hat;
  }
  for (const int weapon : unnamedIn(37, 41)) {  // 37, 38 and 40
    EXPECT_EQ(make(weapon)->name, "an unidentified item(+0)") << weapon;
    EXPECT_EQ(static_cast<int>(make(weapon)->glyph), ')') << weapon;
  }
}

TEST_F(ItemTest, TheRolledBonusIsPartOfTheName) {
  std::srand(seedWhoseFirstDraw([](int r) { return r % 2 == 1; }));
  EXPECT_EQ(make(BatPeltHat)->name, "bat pelt hat(+2)");
  std::srand(seedWhoseFirstDraw([](int r) { return r % 2 == 0; }));
  EXPECT_EQ(make(BatPeltHat)->name, "bat pelt hat(+1)");
  std::srand(seedWhoseFirstDraw([](int r) { return r % 3 == 2; }));
  EXPECT_EQ(make(BearClaw)->name, "severed bear claw(+5)");
}

TEST_F(ItemTest, OnlyTheEightEquipmentKindsDrawANumber) {
  for (int kind = -2; kind <= 50; ++kind) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const std::size_t draws = harness::countRandDraws([&] { make(kind); });
    EXPECT_EQ(draws, isEquipmentKind(kind) ? 1u : 0u);
  }
}

TEST_F(ItemTest, EachEquipmentKindRollsItsBonusRangeFromOneDraw) {
  for (const Named& named : kNamed) {
    if (named.bonusCount == 0) continue;
    SCOPED_TRACE(named.name);
    std::set<int> seen;
    for (unsigned seed = 1; seed <= 300; ++seed) {
      std::srand(seed);
      const int expected = std::rand() % named.bonusCount + named.bonusBase;
      std::srand(seed);
      const auto item = make(named.kind);
      ASSERT_EQ(item->bonus, expected) << "seed " << seed;
      seen.insert(item->bonus);
    }
    std::set<int> range;
    for (int i = 0; i < named.bonusCount; ++i)
      range.insert(named.bonusBase + i);
    EXPECT_EQ(seen, range);
  }
}

// ---- Eating ----------------------------------------------------------------------------------

TEST_F(ItemTest, EachMeatHasItsMessageAndNutrition) {
  struct Meal {
    int kind;
    const char* message;
    int nutrition;
  };
  const Meal meals[] = {
      {BatMeat, "You eat the raw bat meat. It tastes disgusting.", 39},
      {SnakeMeat, "You eat the raw snake meat. Not bad.", 55},
      {BearMeat, "You eat the raw bear meat. You feel like a badass.", 170},
      {MysteriousMeat, "You eat the raw meat. It sates your hunger for now.", 100},
  };
  for (const Meal& meal : meals) {
    SCOPED_TRACE(meal.message);
    const auto food = make(meal.kind);
    const std::size_t before = log.entries().size();
    EXPECT_EQ(harness::countRandDraws([&] { EXPECT_EQ(food->eat(), meal.nutrition); }), 0u);
    ASSERT_EQ(log.entries().size(), before + 1);
    EXPECT_EQ(log.entries().front().text, meal.message);
    EXPECT_TRUE(food->eatable);
  }
}

TEST_F(ItemTest, UnnamedFoodFeedsNothingAndSaysNothing) {
  for (const int kind : unnamedIn(15, 20))
    EXPECT_EQ(make(kind)->eat(), 0) << kind;
  EXPECT_TRUE(log.entries().empty());
}

// ---- Butchering ------------------------------------------------------------------------------

std::vector<int> kindsOf(const std::vector<Item*>& items) {
  std::vector<int> kinds;
  for (const Item* item : items)
    kinds.push_back(item->kind);
  return kinds;
}

class ItemActionTest : public ItemTest {
 protected:
  // Butchers a fresh corpse of `kind` into the (empty) inventory; returns the products.
  std::vector<Item*> butcher(int kind) {
    clearInventory();
    const auto corpse = make(kind);
    corpse->butcher(&player);
    return player.inventory;
  }
  void clearInventory() {
    for (Item* item : player.inventory)
      delete item;
    player.inventory.clear();
  }

  Player player{&log, nullptr, -1, -1};
};

TEST_F(ItemActionTest, BatCorpseGivesMeatAndAPeltOnAnOddDraw) {
  int pelts = 0;
  const int bats = 400;
  for (unsigned seed = 1; seed <= static_cast<unsigned>(bats); ++seed) {
    std::srand(seed);
    const bool odd = (std::rand() & 1) != 0;
    std::srand(seed);
    const std::vector<Item*> products = butcher(BatCorpse);
    const std::vector<int> expected =
        odd ? std::vector<int>{BatPelt, BatMeat} : std::vector<int>{BatMeat};
    ASSERT_EQ(kindsOf(products), expected) << "seed " << seed;
    if (odd) ++pelts;
    EXPECT_EQ(log.entries().front().text, "You butcher the bat corpse.");
  }
  EXPECT_GT(pelts, bats * 2 / 5);
  EXPECT_LT(pelts, bats * 3 / 5);
}

TEST_F(ItemActionTest, BearCorpseGivesPeltMeatAndClaw) {
  const std::vector<Item*> products = butcher(BearCorpse);
  ASSERT_EQ(kindsOf(products), (std::vector<int>{BearPelt, BearMeat, BearClaw}));
  EXPECT_EQ(products[0]->name, "bear pelt");
  EXPECT_EQ(products[1]->name, "bear meat");
  EXPECT_GE(products[2]->bonus, 3);
  EXPECT_LE(products[2]->bonus, 5);
  EXPECT_EQ(products[2]->name, withBonus("severed bear claw", products[2]->bonus));
  EXPECT_EQ(log.entries().front().text, "You butcher the bear corpse.");
  for (const Item* product : products) {
    EXPECT_EQ(product->x, -1);
    EXPECT_EQ(product->y, -1);
    EXPECT_FALSE(product->equipped);
  }
}

TEST_F(ItemActionTest, SnakeAndKittenCorpses) {
  EXPECT_EQ(kindsOf(butcher(SnakeCorpse)), std::vector<int>{SnakeMeat});
  EXPECT_EQ(log.entries().front().text, "You butcher the snake corpse.");
  EXPECT_TRUE(butcher(KittenCorpse).empty());
  EXPECT_EQ(log.entries().front().text,
            "Nothing is yielded from the kitten corpse... you monster.");
  for (const int unnamed : unnamedIn(1, 5)) {  // 2
    const std::size_t logged = log.entries().size();
    EXPECT_TRUE(butcher(unnamed).empty()) << unnamed;
    EXPECT_EQ(log.entries().size(), logged) << unnamed;
  }
}

// What eating gives and whether butchering yields anything, known without doing either.
TEST_F(ItemActionTest, NutritionAndYieldAreKnownBeforehand) {
  for (int kind = 0; kind <= BloodyNote + 1; ++kind) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const auto item = make(kind);
    EXPECT_EQ(nutritionOf(kind), item->eatable ? item->eat() : 0);
    EXPECT_EQ(yieldsProducts(kind), item->butcherable && !butcher(kind).empty());
  }
}

TEST_F(ItemActionTest, TheMessageComesBeforeTheProductsAndProductsGoLast) {
  clearInventory();
  player.inventory.push_back(new Item(&log, nullptr, -1, -1, SmallStone));
  const auto corpse = make(SnakeCorpse);
  corpse->butcher(&player);
  EXPECT_EQ(kindsOf(player.inventory), (std::vector<int>{SmallStone, SnakeMeat}));
  EXPECT_TRUE(corpse->butcherable);  // the corpse itself is left for its user to consume
}

TEST_F(ItemActionTest, DrawsOneNumberForABatAndABearAndNoneOtherwise) {
  struct Case {
    int kind;
    std::size_t draws;
  };
  std::vector<Case> cases = {{BatCorpse, 1}, {BearCorpse, 1}, {SnakeCorpse, 0}, {KittenCorpse, 0}};
  for (const int unnamed : unnamedIn(1, 5))  // 2
    cases.push_back({unnamed, 0});
  for (const Case& c : cases) {
    SCOPED_TRACE("kind " + std::to_string(c.kind));
    clearInventory();
    const auto corpse = make(c.kind);
    EXPECT_EQ(harness::countRandDraws([&] { corpse->butcher(&player); }), c.draws);
  }
}

// ---- Crafting --------------------------------------------------------------------------------

TEST_F(ItemActionTest, PeltsBecomeClothingChosenByOneDrawThenTheBonusDraw) {
  const struct {
    int pelt;
    int products[3];
  } recipes[] = {
      {BatPelt, {BatPeltHat, BatPeltShirt, BatPeltPants}},
      {BearPelt, {BearPeltHelmet, BearPeltArmor, BearPeltLeggings}},
  };
  for (const auto& recipe : recipes) {
    std::set<int> made;
    for (unsigned seed = 1; seed <= 60; ++seed) {
      std::srand(seed);
      const int choice = recipe.products[std::rand() % 3];
      const Named& product = *namedKind(choice);
      const int bonus = std::rand() % product.bonusCount + product.bonusBase;
      clearInventory();
      const auto pelt = make(recipe.pelt);
      const std::size_t logged = log.entries().size();
      EXPECT_EQ(harness::countRandDraws([&] { pelt->craft(&player); }, seed), 2u);
      ASSERT_EQ(player.inventory.size(), 1u);
      const Item& made1 = *player.inventory[0];
      EXPECT_EQ(made1.kind, choice) << "seed " << seed;
      EXPECT_EQ(made1.bonus, bonus) << "seed " << seed;
      EXPECT_EQ(made1.name, withBonus(product.name, bonus));
      EXPECT_FALSE(made1.equipped);
      EXPECT_EQ(log.entries().size(), logged);  // crafting says nothing
      made.insert(made1.kind);
    }
    EXPECT_EQ(made.size(), 3u);
  }
}

TEST_F(ItemActionTest, AStoneAlwaysBecomesASharpenedStone) {
  std::set<int> bonuses;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    clearInventory();
    const auto stone = make(SmallStone);
    EXPECT_EQ(harness::countRandDraws([&] { stone->craft(&player); }, seed), 1u);
    ASSERT_EQ(player.inventory.size(), 1u);
    EXPECT_EQ(player.inventory[0]->kind, SharpenedStone);
    bonuses.insert(player.inventory[0]->bonus);
    EXPECT_EQ(player.inventory[0]->name,
              withBonus("a sharpened stone", player.inventory[0]->bonus));
  }
  EXPECT_EQ(bonuses, (std::set<int>{1, 2}));
  EXPECT_TRUE(log.entries().empty());
}

TEST_F(ItemActionTest, UnnamedMaterialsMakeNothing) {
  for (const int kind : unnamedIn(8, 12)) {  // 9 and 12
    clearInventory();
    const auto material = make(kind);
    EXPECT_EQ(harness::countRandDraws([&] { material->craft(&player); }), 0u);
    EXPECT_TRUE(player.inventory.empty());
  }
}

// ---- Misuse ----------------------------------------------------------------------------------

class ItemDeathTest : public ItemTest {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ItemDeathTest, ActionsOnTheWrongItemStopTheProgramNamingTheFlag) {
  Player player(&log, nullptr, -1, -1);
  EXPECT_DEATH(make(SmallStone)->eat(), "eatable");
  EXPECT_DEATH(make(BloodyNote)->eat(), "eatable");
  EXPECT_DEATH(make(BatMeat)->craft(&player), "craftable");
  EXPECT_DEATH(make(BearClaw)->craft(&player), "craftable");
  EXPECT_DEATH(make(BatPelt)->butcher(&player), "butcherable");
  EXPECT_DEATH(make(BearMeat)->butcher(&player), "butcherable");
}

}  // namespace

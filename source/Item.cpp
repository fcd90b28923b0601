#include "Item.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "MessageLog.hpp"
#include "Player.hpp"

namespace {

constexpr signed char kFoodGlyph = '%';
constexpr signed char kMaterialGlyph = '!';
constexpr signed char kStoneGlyph = 7;
constexpr signed char kArmourGlyph = '[';
constexpr signed char kWeaponGlyph = ')';

// Where the bonus of a band's equipment counts.
enum class BonusTo { Nothing, Armour, Damage };

// A run of kind numbers that share their flag, glyph, slot and bonus target, named or not.
struct Band {
  int first;
  int last;
  bool Item::*flag;  // nullptr: none
  signed char glyph;
  int slot;
  BonusTo bonusTo;
};

// The first band that holds a kind decides; a kind in none keeps the defaults (glyph 1, no flag,
// NoSlot). The small stone comes before its band because it alone has a glyph of its own. The
// first weapon kind counts its bonus as armour, as it always has; no named kind has that number.
constexpr Band kBands[] = {
    // first kind, last kind, flag, glyph, slot, bonus counts toward
    {kCorpseBand.first, kCorpseBand.last, &Item::butcherable, kFoodGlyph, NoSlot, BonusTo::Nothing},
    {SmallStone, SmallStone, &Item::craftable, kStoneGlyph, NoSlot, BonusTo::Nothing},
    {kMaterialBand.first, kMaterialBand.last, &Item::craftable, kMaterialGlyph, NoSlot,
     BonusTo::Nothing},
    {kFoodBand.first, kFoodBand.last, &Item::eatable, kFoodGlyph, NoSlot, BonusTo::Nothing},
    {kHeadGearBand.first, kHeadGearBand.last, nullptr, kArmourGlyph, Head, BonusTo::Armour},
    {kBodyGearBand.first, kBodyGearBand.last, nullptr, kArmourGlyph, Body, BonusTo::Armour},
    {kLegGearBand.first, kLegGearBand.last, nullptr, kArmourGlyph, Legs, BonusTo::Armour},
    {kWeaponBand.first, kWeaponBand.first, nullptr, kWeaponGlyph, Weapon, BonusTo::Armour},
    {kWeaponBand.first + 1, kWeaponBand.last, nullptr, kWeaponGlyph, Weapon, BonusTo::Damage},
    {kFirstKeepsakeKind, std::numeric_limits<int>::max(), nullptr, kArmourGlyph, NoSlot,
     BonusTo::Nothing},
};

// The band of `kind`, or nullptr.
const Band* bandOf(int kind) {
  for (const Band& band : kBands) {
    if (kind >= band.first && kind <= band.last) return &band;
  }
  return nullptr;
}

struct NamedKind {
  int kind;
  const char* name;
  int bonusBase;     // equipment only
  int bonusDivisor;  // 0: no bonus roll
};

constexpr NamedKind kNamedKinds[] = {
    // kind, name, bonus base, bonus divisor
    {BatCorpse, "a bat corpse", 0, 0},
    {BearCorpse, "a bear corpse", 0, 0},
    {KittenCorpse, "a kitten corpse", 0, 0},
    {SnakeCorpse, "a snake corpse", 0, 0},
    {BatPelt, "bat pelt", 0, 0},
    {BearPelt, "bear pelt", 0, 0},
    {SmallStone, "a small stone", 0, 0},
    {BatMeat, "bat meat", 0, 0},
    {SnakeMeat, "snake meat", 0, 0},
    {BearMeat, "bear meat", 0, 0},
    {MysteriousMeat, "mysterious hunk of meat", 0, 0},
    {BatPeltHat, "bat pelt hat", 1, 2},
    {BearPeltHelmet, "bear pelt helmet", 3, 2},
    {BatPeltShirt, "bat pelt shirt", 1, 3},
    {BearPeltArmor, "bear pelt armor", 3, 3},
    {BatPeltPants, "bat pelt pants", 1, 2},
    {BearPeltLeggings, "bear pelt leggings", 3, 2},
    {SharpenedStone, "a sharpened stone", 1, 2},
    {BearClaw, "severed bear claw", 3, 3},
    {BloodyNote, "a crumpled bloody note", 0, 0},
};

constexpr const char* kUnnamed = "an unidentified item";

struct Food {
  int kind;
  const char* message;
  int nutrition;
};

constexpr Food kFoods[] = {
    // kind, message, nutrition
    {BatMeat, "You eat the raw bat meat. It tastes disgusting.", 39},
    {SnakeMeat, "You eat the raw snake meat. Not bad.", 55},
    {BearMeat, "You eat the raw bear meat. You feel like a badass.", 170},
    {MysteriousMeat, "You eat the raw meat. It sates your hunger for now.", 100},
};

struct Yield {
  int corpse;
  const char* message;
  int pelt;  // added first on an odd roll; 0: no roll
  std::array<int, 3> products;
  std::size_t productCount;
};

constexpr Yield kYields[] = {
    // corpse, message, pelt on an odd roll, products, product count
    {BatCorpse, "You butcher the bat corpse.", BatPelt, {BatMeat, 0, 0}, 1},
    {SnakeCorpse, "You butcher the snake corpse.", 0, {SnakeMeat, 0, 0}, 1},
    {BearCorpse, "You butcher the bear corpse.", 0, {BearPelt, BearMeat, BearClaw}, 3},
    {KittenCorpse, "Nothing is yielded from the kitten corpse... you monster.", 0, {0, 0, 0}, 0},
};

struct Recipe {
  int material;
  std::array<int, 3> products;
  std::size_t productCount;  // 3: chosen by one rand() % 3; 1: always the same
};

constexpr Recipe kRecipes[] = {
    // material, products, product count
    {BatPelt, {BatPeltHat, BatPeltShirt, BatPeltPants}, 3},
    {BearPelt, {BearPeltHelmet, BearPeltArmor, BearPeltLeggings}, 3},
    {SmallStone, {SharpenedStone, 0, 0}, 1},
};

template <typename Row, std::size_t N>
const Row* findRow(const Row (&table)[N], int key, int Row::*column) {
  for (const Row& row : table) {
    if (row.*column == key) return &row;
  }
  return nullptr;
}

// The item actions are only offered for items with the matching flag; anything else is a
// programming error that must not go unnoticed, in any build.
void require(bool flag, const char* flagName, const char* action) {
  if (flag) return;
  std::fprintf(stderr, "source/Item: %s requires an item that is %s\n", action, flagName);
  std::abort();
}

}  // namespace

// The parameters carry the names of the fields they set.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
Item::Item(MessageLog* messageLog, Map* map, int x, int y, int kind)
    : Entity(messageLog, map, x, y, false), kind(kind) {
  applyBand();
  setUpKind(kind);
}
#pragma GCC diagnostic pop

void Item::applyBand() {
  const Band* band = bandOf(kind);
  if (band == nullptr) return;
  if (band->flag != nullptr) this->*band->flag = true;
  glyph = band->glyph;
  slot = band->slot;
}

void Item::setUpKind(int itemKind) {
  const NamedKind* named = findRow(kNamedKinds, itemKind, &NamedKind::kind);
  name = named != nullptr ? named->name : kUnnamed;
  if (named != nullptr && named->bonusDivisor != 0) {
    bonus = std::rand() % named->bonusDivisor + named->bonusBase;
  }
  if (slot != NoSlot) name += "(+" + std::to_string(bonus) + ")";
}

int Item::eat() {
  require(eatable, "eatable", "Item::eat");
  const Food* food = findRow(kFoods, kind, &Food::kind);
  if (food == nullptr) return 0;
  messageLog->add(food->message);
  return food->nutrition;
}

void Item::craft(Player* player) {
  require(craftable, "craftable", "Item::craft");
  const Recipe* recipe = findRow(kRecipes, kind, &Recipe::material);
  if (recipe == nullptr) return;
  const std::size_t choice =
      recipe->productCount > 1 ? static_cast<std::size_t>(std::rand()) % recipe->productCount : 0;
  player->receive(recipe->products[choice]);
}

void Item::butcher(Player* player) {
  require(butcherable, "butcherable", "Item::butcher");
  const Yield* yield = findRow(kYields, kind, &Yield::corpse);
  if (yield == nullptr) return;
  messageLog->add(yield->message);
  if (yield->pelt != 0 && (std::rand() & 1) != 0) player->receive(yield->pelt);
  for (std::size_t i = 0; i < yield->productCount; ++i)
    player->receive(yield->products[i]);
}

int nutritionOf(int kind) {
  const Food* food = findRow(kFoods, kind, &Food::kind);
  return food != nullptr ? food->nutrition : 0;
}

bool yieldsProducts(int corpseKind) {
  const Yield* yield = findRow(kYields, corpseKind, &Yield::corpse);
  return yield != nullptr && (yield->pelt != 0 || yield->productCount > 0);
}

bool bonusAddsToArmour(int kind) {
  const Band* band = bandOf(kind);
  return band != nullptr && band->bonusTo == BonusTo::Armour;
}

// Melee by bumping: who gets angry, the rolls and their order, the damage, and the lines the
// player reads about it.

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Game.hpp"
#include "Item.hpp"
#include "MessageLog.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"

namespace {

using harness::press;

// The newest `count` log lines, oldest of them first.
std::vector<std::string> lastLines(const Game& game, std::size_t count) {
  const std::vector<std::string> all = harness::messages(game);
  std::vector<std::string> lines;
  for (std::size_t i = std::min(count, all.size()); i > 0; --i)
    lines.push_back(all[i - 1]);
  return lines;
}

// A seed after which the first roll with bound 10 is a hit (below `accuracy`) or a miss.
unsigned seedFor(bool hit, int accuracy) {
  for (unsigned seed = 1;; ++seed) {
    std::srand(seed);
    if ((std::rand() % 10 < accuracy) == hit) return seed;
  }
}

// The rolls of one attack, recomputed from the seed in the order the game draws them.
struct Rolls {
  bool hit;
  int damage;  // -1 for a miss
  std::size_t draws;
};

Rolls rollsFor(unsigned seed, int accuracy, int damageRange, int baseDamage, int weaponDamage,
               int armor) {
  std::srand(seed);
  if (std::rand() % 10 >= accuracy) return {false, -1, 1};
  const int r1 = std::rand() % damageRange;
  const int r2 = std::rand() % weaponDamage;
  const int r3 = std::rand() % armor;
  return {true, std::max(0, r1 + baseDamage + r2 - r3), 4};
}

// The player next to a bear, which is slow enough not to act in the first turn.
class PlayerAttackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    game = harness::gameFromDrawing({
        "#####",  //
        "#@B.#",  //
        "#####",  //
    });
    player = game->player;
    bear = harness::creaturesOf(*game).at(0);
    game->storyStage = 6;  // the story is told: its lines would come after the blows
  }

  std::unique_ptr<Game> game;
  Player* player = nullptr;
  NPC* bear = nullptr;
};

// ---- The attack ------------------------------------------------------------------------

TEST_F(PlayerAttackTest, TheRollsComeToHitThenDamageWeaponArmourAndAMissDrawsOnce) {
  // Equipment in play, so that every roll of the damage sum matters.
  player->weaponDamage = 4;
  bear->armor = 5;
  bear->maxHp = bear->hp = 1000;
  int hits = 0;
  int misses = 0;
  int harmless = 0;
  for (unsigned seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const Rolls expected = rollsFor(seed, 7, 3, 1, 4, 5);
    bear->energy = 0;
    player->hunger = 0;  // hundreds of turns: no starving
    const int hpBefore = bear->hp;
    const std::size_t draws =
        harness::countRandDraws([&] { ASSERT_TRUE(press(*game, "l")); }, seed);
    ASSERT_EQ(draws, expected.draws);
    if (!expected.hit) {
      ++misses;
      EXPECT_EQ(bear->hp, hpBefore);
      EXPECT_EQ(harness::lastMessage(*game), "You miss the bear!");
      continue;
    }
    ++hits;
    EXPECT_EQ(bear->hp, hpBefore - expected.damage);
    if (expected.damage == 0) {
      ++harmless;
      EXPECT_EQ(harness::lastMessage(*game), "You hit the bear for no damage!");
    } else {
      EXPECT_EQ(harness::lastMessage(*game),
                "You hit the bear for " + std::to_string(expected.damage) + " damage!");
    }
  }
  EXPECT_GT(hits, 150);
  EXPECT_GT(misses, 40);
  EXPECT_GT(harmless, 10);
}

TEST_F(PlayerAttackTest, WithBaseEquipmentTheWeaponAndArmourRollsAreStillDrawn) {
  const unsigned seed = seedFor(true, player->accuracy);
  const Rolls expected = rollsFor(seed, 7, 3, 1, 1, 1);
  EXPECT_EQ(harness::countRandDraws([&] { ASSERT_TRUE(press(*game, "l")); }, seed), 4u);
  EXPECT_EQ(bear->hp, 20 - expected.damage);
}

TEST_F(PlayerAttackTest, EvenAMissAngersTheDefenderAtTheAttacker) {
  const unsigned seed = seedFor(false, player->accuracy);
  player->turnsSinceAttack = 7;
  EXPECT_EQ(harness::countRandDraws([&] { ASSERT_TRUE(press(*game, "l")); }, seed), 1u);
  EXPECT_EQ(harness::lastMessage(*game), "You miss the bear!");
  EXPECT_EQ(bear->hp, 20);
  EXPECT_TRUE(bear->angry);
  EXPECT_EQ(bear->target, player);
  EXPECT_EQ(player->turnsSinceAttack, 0);
  EXPECT_EQ(player->x, 1);
  EXPECT_EQ(bear->x, 2);
}

TEST_F(PlayerAttackTest, AnAngryDefenderKeepsItsTarget) {
  auto other = harness::gameFromDrawing({"###", "#@#", "###"});
  Entity* someoneElse = other->player;  // any entity will do as the old grudge
  bear->angry = true;
  bear->target = someoneElse;
  ASSERT_TRUE(press(*game, "l"));
  EXPECT_TRUE(bear->angry);
  EXPECT_EQ(bear->target, someoneElse);
  bear->target = nullptr;  // the other game goes first
}

TEST_F(PlayerAttackTest, AKillingBlowIsFollowedByTheSlainLine) {
  auto game2 = harness::gameFromDrawing({
      "####",  //
      "#@b#",  //
      "####",  //
  });
  NPC& bat = *harness::creaturesOf(*game2).at(0);
  bat.hp = 3;
  game2->player->accuracy = 10;
  game2->player->baseDamage = 3;  // 3 to 5, through no armour
  ASSERT_TRUE(press(*game2, "l"));
  const std::vector<std::string> lines = lastLines(*game2, 2);
  EXPECT_EQ(lines[0].rfind("You hit the bat for ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "You have slain the bat!");
  EXPECT_EQ(game2->killCount, 1);
}

// A blow kills when it leaves no hit points: one left is still alive. Damage here is exactly the
// base damage (every other roll has bound 1, which adds 0).
TEST_F(PlayerAttackTest, ABlowKillsExactlyWhenItLeavesNoHitPoints) {
  struct Case {
    int baseDamage;
    bool kills;
  };
  for (const Case c : {Case{4, false}, Case{5, true}, Case{6, true}}) {
    SetUp();
    bear->hp = 5;
    player->accuracy = 10;  // every blow hits
    player->damageRange = 1;
    player->baseDamage = c.baseDamage;
    ASSERT_TRUE(press(*game, "l"));
    const std::string blow = "You hit the bear for " + std::to_string(c.baseDamage) + " damage!";
    EXPECT_EQ(game->killCount, c.kills ? 1 : 0) << "damage " << c.baseDamage;
    EXPECT_EQ(harness::creaturesOf(*game).size(), c.kills ? 0u : 1u) << "damage " << c.baseDamage;
    EXPECT_EQ(lastLines(*game, c.kills ? 2 : 1)[0], blow);
    if (!c.kills) {
      EXPECT_EQ(bear->hp, 1);
    }
  }
}

TEST(CreatureAttackTest, ACreatureRollsTheSameWayAgainstThePlayer) {
  auto game = harness::gameFromDrawing({
      "#####",  //
      "#@s.#",  //
      "#####",  //
  });
  NPC& snake = *harness::creaturesOf(*game).at(0);
  Player& player = *game->player;
  player.armor = 3;  // worn armour takes its roll off every hit
  player.maxHp = player.hp = 100000;
  snake.angry = true;
  snake.target = &player;
  int hits = 0;
  for (unsigned seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const Rolls expected = rollsFor(seed, 9, 2, 2, 1, 3);
    snake.energy = 0;         // one action this turn
    player.hunger = 0;        // hundreds of turns: no starving
    player.regenCounter = 0;  // and no healing in this turn's upkeep
    const int hpBefore = player.hp;
    ASSERT_EQ(harness::countRandDraws([&] { ASSERT_TRUE(press(*game, ".")); }, seed),
              expected.draws);
    EXPECT_EQ(snake.x, 2);
    if (!expected.hit) {
      EXPECT_EQ(harness::lastMessage(*game), "The snake misses you!");
      continue;
    }
    ++hits;
    EXPECT_EQ(player.hp, hpBefore - expected.damage);
    EXPECT_EQ(harness::lastMessage(*game),
              expected.damage == 0
                  ? std::string("The snake hits you for no damage!")
                  : "The snake hits you for " + std::to_string(expected.damage) + " damage!");
  }
  EXPECT_GT(hits, 150);
}

TEST(CreatureAttackTest, EveryAttackOfTheKittenMisses) {
  auto game = harness::gameFromDrawing({
      "####",  //
      "#@k#",  //
      "####",  //
  });
  NPC& kitten = *harness::creaturesOf(*game).at(0);
  for (unsigned seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    kitten.angry = true;
    kitten.fleeing = false;
    kitten.fleeCounter = 0;
    kitten.target = game->player;
    kitten.energy = 10;
    game->player->regenCounter = 0;  // no healing in this turn's upkeep
    const int hpBefore = game->player->hp;
    // One draw: the roll to hit; the kitten's damage range of 0 is never rolled.
    ASSERT_EQ(harness::countRandDraws([&] { ASSERT_TRUE(press(*game, ".")); }, seed), 1u);
    const std::vector<std::string> lines = lastLines(*game, 2);
    EXPECT_EQ(lines[0], "The kitten misses you!");
    EXPECT_EQ(lines[1], "The kitten is fleeing!");  // 1 hit point is its threshold
    EXPECT_EQ(game->player->hp, hpBefore);
  }
}

TEST(CreatureAttackTest, TwoCreaturesBumpingDoNothingToEachOther) {
  auto game = harness::gameFromDrawing({
      "#####",  //
      "#@..#",  //
      "#####",  //
      "#bb##",  //
  });
  const std::vector<NPC*> bats = harness::creaturesOf(*game);
  bats[0]->turnsSinceAttack = 4;
  bats[1]->turnsSinceAttack = 6;
  const std::size_t logSize = game->messageLog.entries().size();
  // Each bat's only open direction is the other bat: one wandering draw each, then the bump.
  EXPECT_EQ(harness::countRandDraws([&] { ASSERT_TRUE(press(*game, ".")); }), 2u);
  EXPECT_EQ(game->messageLog.entries().size(), logSize);
  for (const NPC* bat : bats) {
    EXPECT_FALSE(bat->angry);
    EXPECT_EQ(bat->target, nullptr);
    EXPECT_EQ(bat->hp, 5);
  }
  EXPECT_EQ(bats[0]->turnsSinceAttack, 4);
  EXPECT_EQ(bats[1]->turnsSinceAttack, 6);

  // The same straight through the attack itself: no roll at all.
  EXPECT_EQ(harness::countRandDraws([&] { bats[0]->interact(bats[1]); }), 0u);
  EXPECT_FALSE(bats[1]->angry);
  EXPECT_EQ(game->messageLog.entries().size(), logSize);
}

// ---- The lines of an attack ---------------------------------------------------------------

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    game = harness::gameFromDrawing({
        "#######",  //
        "#@bsBk#",  //
        "#######",  //
    });
    player = game->player;
    const std::vector<NPC*> creatures = harness::creaturesOf(*game);
    bat = creatures[0];
    snake = creatures[1];
    bear = creatures[2];
  }

  // The lines one report writes, oldest first, into a log of their own.
  static std::vector<std::string> report(const NPC* attacker, const NPC* defender, int damage) {
    MessageLog log;
    reportAttack(&log, attacker, defender, damage);
    std::vector<std::string> lines;
    for (auto entry = log.entries().rbegin(); entry != log.entries().rend(); ++entry) {
      lines.push_back(entry->text);
    }
    return lines;
  }

  using Lines = std::vector<std::string>;
  std::unique_ptr<Game> game;
  Player* player = nullptr;
  NPC* bat = nullptr;
  NPC* snake = nullptr;
  NPC* bear = nullptr;
};

TEST_F(ReportTest, ThePlayersBlows) {
  EXPECT_EQ(report(player, bat, -1), Lines{"You miss the bat!"});
  EXPECT_EQ(report(player, bat, 0), Lines{"You hit the bat for no damage!"});
  EXPECT_EQ(report(player, bear, 1), Lines{"You hit the bear for 1 damage!"});
  EXPECT_EQ(report(player, snake, 12), Lines{"You hit the snake for 12 damage!"});
}

TEST_F(ReportTest, BlowsOnThePlayer) {
  EXPECT_EQ(report(bat, player, -1), Lines{"The bat misses you!"});
  EXPECT_EQ(report(bat, player, 0), Lines{"The bat hits you for no damage!"});
  EXPECT_EQ(report(bear, player, 7), Lines{"The bear hits you for 7 damage!"});
}

TEST_F(ReportTest, BlowsBetweenCreatures) {
  EXPECT_EQ(report(snake, bat, -1), Lines{"The snake misses the bat!"});
  EXPECT_EQ(report(snake, bat, 0), Lines{"The snake hits the bat for 0 damage!"});
  EXPECT_EQ(report(bear, snake, 6), Lines{"The bear hits the snake for 6 damage!"});
}

TEST_F(ReportTest, TheSlainLineFollowsAnyReportOnTheDead) {
  bat->dead = true;
  EXPECT_EQ(report(player, bat, 3),
            (Lines{"You hit the bat for 3 damage!", "You have slain the bat!"}));
  // Killed earlier: even a miss reports it.
  EXPECT_EQ(report(player, bat, -1), (Lines{"You miss the bat!", "You have slain the bat!"}));
  EXPECT_EQ(report(snake, bat, 2),
            (Lines{"The snake hits the bat for 2 damage!", "The bat has been slain!"}));
}

TEST_F(ReportTest, NoSlainLineForThePlayer) {
  player->dead = true;
  EXPECT_EQ(report(bear, player, 6), Lines{"The bear hits you for 6 damage!"});
  EXPECT_EQ(report(bat, player, -1), Lines{"The bat misses you!"});
  player->dead = false;
}

}  // namespace

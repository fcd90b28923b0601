// The autoplayer on hand-drawn levels of the real game: it takes a bear on without being hit
// in open ground, looks after its pack, reads the note to the end, and its reckoning of the
// game's rhythm and fight odds agrees with the game itself.

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Autoplayer.hpp"
#include "FightOdds.hpp"
#include "Game.hpp"
#include "Grid.hpp"
#include "Item.hpp"
#include "Keyboard.hpp"
#include "Keys.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"

namespace {

// The level drawn as `rows` in a game built with rand() seeded with 0 on cave `partition`.
std::unique_ptr<Game> drawnGame(std::uint32_t partition, const std::vector<std::string>& rows) {
  std::srand(0);
  harness::fixPartition(partition);
  return harness::gameFromDrawing(rows);
}

std::unique_ptr<Game> drawnGame(const std::vector<std::string>& rows) {
  return drawnGame(1, rows);
}

// Lets `bot` press keys in `game`, one frame and one update per key, until `done` holds or
// `keys` have been pressed; `watch` looks at the game after every key. Returns the keys pressed.
template <typename Done, typename Watch>
int play(Game& game, Autoplayer& bot, int keys, Done&& done, Watch&& watch) {
  keyboard::setKeySource([&] { return bot.nextKey(game); });
  int pressed = 0;
  while (pressed < keys && !done()) {
    game.draw();
    game.update();
    ++pressed;
    watch();
  }
  keyboard::setKeySource(nullptr);
  return pressed;
}

Item* give(Game& game, int kind) {
  auto* item = new Item(&game.messageLog, game.map.get(), -1, -1, kind);
  game.player->inventory.push_back(item);
  return item;
}

// ---- Bears -------------------------------------------------------------------------------------

// In open ground the bot strikes only on the bear's resting turns and keeps out of its reach on
// the others, so the bear never lands a blow and is worn down to death. A few caves are tried:
// the cave's partition moves the game's random numbers, and with them the bear's wandering
// and the blows.
// The bot's one search: steps counted from the start, diagonals as one, walls ('#') never
// entered, a cell that stops the walk ('x') reached but not walked through, and the first step
// of each walk remembered.
TEST(BotGridTest, BreadthFirstCountsStepsAroundWallsAndStopsAtBlockedCells) {
  const std::vector<std::string> rows = {
      "..#..",
      ".x#..",
      ".....",
  };
  const auto at = [&](int x, int y) {
    return rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
  };
  const bot::Grid<int> shape(5, 3, 0);
  const bot::Walks walks = bot::breadthFirst(
      5, 3, {shape.index(0, 0)}, [&](int x, int y) { return at(x, y) != '#'; },
      [&](int x, int y) { return at(x, y) != 'x'; });
  const std::vector<std::vector<int>> distance = {
      {0, 1, -1, 5, 5}, {1, 1, -1, 4, 5}, {2, 2, 3, 4, 5}};
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(walks.distance.at(x, y),
                distance[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)])
          << x << "," << y;
  }
  EXPECT_EQ(walks.firstStep.at(0, 0), -1);
  EXPECT_EQ(walks.firstStep.at(1, 1), SouthEast);
  EXPECT_EQ(walks.firstStep.at(4, 0), South);  // round the wall, by the bottom row
  EXPECT_EQ(shape.xOf(shape.index(3, 2)), 3);
  EXPECT_EQ(shape.yOf(shape.index(3, 2)), 2);
}

TEST(AutoplayerBoutTest, TakesABearOnInOpenGroundWithoutBeingHit) {
  for (std::uint32_t partition = 0; partition < 3; ++partition) {
    SCOPED_TRACE("partition " + std::to_string(partition));
    auto game = drawnGame(partition, {
                                         "###############",
                                         "#.............#",
                                         "#.............#",
                                         "#.............#",
                                         "#.....@..B....#",
                                         "#.............#",
                                         "#.............#",
                                         "#.............#",
                                         "###############",
                                     });
    Autoplayer bot;
    int lowestHp = game->player->hp;
    bool bearDead = false;
    const int keys = play(
        *game, bot, 400, [&] { return bearDead; },
        [&] {
          game->player->hunger = 0;  // nothing but the bear to think of
          lowestHp = std::min(lowestHp, game->player->hp);
          bearDead = harness::creatureNamed(*game, "bear") == nullptr;
        });
    EXPECT_EQ(lowestHp, game->player->maxHp) << "the bear landed a blow";
    EXPECT_TRUE(bearDead) << "the bear is still alive after " << keys << " keys";
  }
}

// The bot times its blows by the bears' rest: here it is checked against the game's own bears,
// bats and snakes, which all follow the rhythm of their speed from the start of the game.
TEST(AutoplayerBoutTest, CreaturesActInTheRhythmTheBotReckonsWith) {
  auto game = drawnGame({
      "##########",
      "#@.#.....#",
      "#..#..B..#",
      "####..b..#",
      "#....s...#",
      "##########",
  });
  keyboard::setKeySource([] { return harness::actionKey(Action::Wait); });
  const std::vector<NPC*> creatures = harness::creaturesOf(*game);
  ASSERT_EQ(creatures.size(), 3u);
  for (int turn = 1; turn <= 40; ++turn) {
    std::vector<int> before;
    for (const NPC* creature : creatures)
      before.push_back(creature->energy);
    game->draw();
    game->update();
    ASSERT_EQ(game->turnCount, turn);
    for (std::size_t i = 0; i < creatures.size(); ++i) {
      const NPC& creature = *creatures[i];
      const int actions = (before[i] + creature.speed - creature.energy) / NPC::kActionCost;
      EXPECT_EQ(actions, bot::actionsInTurn(creature.speed, turn))
          << creature.name << " in turn " << turn;
    }
  }
  keyboard::setKeySource(nullptr);
}

// ---- Fight odds --------------------------------------------------------------------------------

// How often each damage came of `blows` real attacks of `attacker` on `defender` (a miss as 0).
std::map<int, int> damagesOfTheGamesAttack(NPC& attacker, NPC& defender, int blows) {
  std::map<int, int> seen;
  for (int blow = 0; blow < blows; ++blow) {
    defender.hp = 1000;
    defender.dead = false;
    attacker.interact(&defender);
    ++seen[1000 - defender.hp];
  }
  return seen;
}

// The bot must not roll the game's dice, so it works the attack out again (bot::blowOutcomes,
// from the values of each kind). Here its chances are held against many real attacks
// (NPC::interact) on a drawn level, each kind against the player and the player against each
// kind, bare and in gear: a change to the combat rule that the bot does not follow fails here.
TEST(BotCombatRuleTest, PredictedBlowsMatchTheGamesAttack) {
  auto game = drawnGame({
      "#######",
      "#@bsBk#",
      "#######",
  });
  Player& player = *game->player;
  struct Case {
    const char* attacker;  // "You" or a creature's name
    const char* defender;
    int armour;  // the player's
    int weapon;
  };
  const Case cases[] = {
      {"bat", "You", 1, 1},    {"snake", "You", 1, 1}, {"bear", "You", 1, 1},
      {"kitten", "You", 1, 1}, {"bear", "You", 5, 1},  {"snake", "You", 3, 1},
      {"You", "bat", 1, 1},    {"You", "snake", 1, 3}, {"You", "bear", 1, 4},
      {"You", "kitten", 1, 1},
  };
  const auto fighter = [&](const std::string& name) -> NPC& {
    return name == "You" ? static_cast<NPC&>(player) : *harness::creatureNamed(*game, name);
  };
  const int blows = 20000;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.attacker) + " on " + c.defender + ", armour " +
                 std::to_string(c.armour) + ", weapon " + std::to_string(c.weapon));
    player.armor = c.armour;
    player.weaponDamage = c.weapon;
    NPC& attacker = fighter(c.attacker);
    NPC& defender = fighter(c.defender);
    std::map<int, int> seen = damagesOfTheGamesAttack(attacker, defender, blows);
    std::map<int, double> predicted;
    for (const auto& [damage, chance] :
         bot::blowOutcomes(bot::fighterOf(attacker), bot::fighterOf(defender))) {
      predicted[damage] = chance;
      seen.emplace(damage, 0);
    }
    for (const auto& [damage, count] : seen) {
      const double chance = predicted.count(damage) != 0 ? predicted[damage] : 0.0;
      const double spread = std::sqrt(chance * (1.0 - chance) / blows);
      EXPECT_NEAR(static_cast<double>(count) / blows, chance, 5.0 * spread + 1e-9)
          << "damage " << damage;
    }
  }
}

// Plays `fights` fights with the game's own blows (NPC::interact) the way the bot's odds reckon
// them: the player strikes, then the creature strikes once, or twice as often as its speed
// allows, until one of them falls or the creature is down to its threshold and runs.
double lossRateWithTheGamesBlows(Game& game, Player& player, NPC& creature, int fights) {
  std::mt19937 coin(7);  // the game's rand() stays with the blows
  const double actionsPerTurn = creature.speed / static_cast<double>(NPC::kActionCost);
  std::bernoulli_distribution extraAction(actionsPerTurn - std::floor(actionsPerTurn));
  const int playerHp = player.hp;
  const int creatureHp = creature.hp;
  int losses = 0;
  for (int fight = 0; fight < fights; ++fight) {
    player.hp = playerHp;
    player.dead = false;
    creature.hp = creatureHp;
    creature.dead = false;
    for (;;) {
      player.interact(&creature);
      if (creature.dead) break;
      const int blows = 1 + (extraAction(coin) ? 1 : 0);
      bool over = false;
      for (int blow = 0; blow < blows && !over; ++blow) {
        creature.interact(&player);
        if (player.hp <= 0) {
          ++losses;
          over = true;
        } else if (creature.hp <= creature.fleeThreshold) {
          over = true;  // it runs
        }
      }
      if (over) break;
    }
  }
  player.hp = playerHp;
  player.dead = false;
  creature.hp = creatureHp;
  creature.dead = false;
  (void)game;
  return static_cast<double>(losses) / fights;
}

TEST(AutoplayerOddsTest, LossChanceAgreesWithTheGamesOwnBlows) {
  auto game = drawnGame({
      "######",
      "#@s..#",
      "######",
  });
  Player& player = *game->player;
  NPC& snake = *harness::creatureNamed(*game, "snake");
  struct Case {
    int armour;
    int weapon;
  };
  for (const Case& kit : {Case{1, 1}, Case{4, 3}}) {
    player.armor = kit.armour;
    player.weaponDamage = kit.weapon;
    const double reckoned = bot::lossChance(bot::fighterOf(player), bot::fighterOf(snake));
    const int fights = 20000;
    const double seen = lossRateWithTheGamesBlows(*game, player, snake, fights);
    const double spread = std::sqrt(std::max(reckoned, 0.001) * (1.0 - reckoned) / fights);
    EXPECT_NEAR(seen, reckoned, 4.0 * spread + 1e-4)
        << "armour " << kit.armour << ", weapon " << kit.weapon;
  }
  // An unarmoured player at full health loses a snake fight about once in thirty; armour and a
  // weapon make it rare.
  player.armor = 1;
  player.weaponDamage = 1;
  EXPECT_GT(bot::lossChance(bot::fighterOf(player), bot::fighterOf(snake)), 0.02);
  player.armor = 4;
  player.weaponDamage = 3;
  EXPECT_LT(bot::lossChance(bot::fighterOf(player), bot::fighterOf(snake)), 0.001);
}

// ---- The pack and the note ---------------------------------------------------------------------

TEST(AutoplayerPackTest, ButchersCraftsEatsAndWearsTheBestPieces) {
  auto game = drawnGame({
      "#######",
      "#.....#",
      "#..@..#",
      "#.....#",
      "#######",
  });
  Player& player = *game->player;
  for (Item* item : player.inventory)
    delete item;  // the starting meat plays no part here
  player.inventory.clear();
  give(*game, SnakeCorpse);
  give(*game, SmallStone);
  give(*game, BatMeat);
  Item* plainHat = give(*game, BatPeltHat);
  plainHat->bonus = 1;
  Item* goodHat = give(*game, BatPeltHat);
  goodHat->bonus = 2;
  player.hunger = 120;

  Autoplayer bot;
  const auto has = [&](int kind) {
    for (const Item* item : player.inventory) {
      if (item->kind == kind) return true;
    }
    return false;
  };
  const auto settled = [&] {
    return game->mode == Normal && !has(SnakeCorpse) && !has(SmallStone) && !has(SnakeMeat) &&
           player.equipment[Weapon] != nullptr && player.equipment[Head] == goodHat;
  };
  const int keys = play(*game, bot, 40, settled, [] {});
  ASSERT_TRUE(settled()) << "not done after " << keys << " keys";
  EXPECT_EQ(player.equipment[Weapon]->kind, SharpenedStone);
  EXPECT_EQ(player.armor, 1 + goodHat->bonus);
  // Hungry at 120, it ate the snake's meat (55), the largest that its hunger uses up, and kept
  // the bat meat (39) for later.
  EXPECT_TRUE(has(BatMeat));
  EXPECT_EQ(player.hunger, 120 - 55 + game->turnCount);
}

TEST(AutoplayerNoteTest, ReadsTheNoteAndClosesItIntoTheEndScreen) {
  auto game = drawnGame({
      "#####",
      "#.@.#",
      "#####",
  });
  give(*game, BloodyNote);
  Autoplayer bot;
  const int keys = play(
      *game, bot, 10, [&] { return game->mode == EndScreen; }, [] {});
  EXPECT_EQ(game->mode, EndScreen);
  EXPECT_LE(keys, 4) << "inventory, the note's letter, Escape, and the fade's frame";
}

}  // namespace

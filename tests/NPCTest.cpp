// The creatures of the cave: the four kinds and their values, the population of a new game, and
// how a creature spends its turns (energy, prey, hunting, flight, calming down, corpses).

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Game.hpp"
#include "Item.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"

namespace {

using harness::press;

// One turn of waiting; returns how many rand() draws it took.
std::size_t waitOneTurn(Game& game, unsigned seed = 20240601u) {
  return harness::countRandDraws([&] { EXPECT_TRUE(press(game, ".")); }, seed);
}

// ---- The four kinds ----------------------------------------------------------------------

struct KindValues {
  unsigned char kind;
  const char* name;
  char glyph;
  int hp;
  int speed;
  int sight;
  bool aggressive;
  int fleeThreshold;
  int baseDamage;
  int damageRange;
  int accuracy;
};

constexpr KindValues kKinds[] = {
    // kind, name, glyph, hp, speed, sight, aggressive, flee at, base damage, range, accuracy
    {Bat, "bat", 'b', 5, 14, 6, false, 1, 0, 2, 8},
    {Snake, "snake", 's', 7, 11, 4, true, 2, 2, 2, 9},
    {Bear, "bear", 'B', 20, 8, 3, true, 4, 5, 3, 7},
    {Kitten, "kitten", 'k', 1, 4, 0, false, 1, 0, 0, 0},
};

TEST(CreatureKindTest, EachKindStartsWithTheValuesOfItsKind) {
  auto game = harness::gameFromDrawing({
      "########",  //
      "#@.bsBk#",  //
      "########",  //
  });
  const std::vector<NPC*> creatures = harness::creaturesOf(*game);
  ASSERT_EQ(creatures.size(), 4u);
  game->draw();
  for (std::size_t i = 0; i < 4; ++i) {
    const KindValues& expected = kKinds[i];
    const NPC& creature = *creatures[i];
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(creature.kind, expected.kind);
    EXPECT_EQ(creature.name, expected.name);
    EXPECT_EQ(creature.glyph, expected.glyph);
    EXPECT_EQ(harness::cellAt(creature.x, creature.y).ch, expected.glyph);
    EXPECT_EQ(creature.maxHp, expected.hp);
    EXPECT_EQ(creature.hp, expected.hp);
    EXPECT_EQ(creature.speed, expected.speed);
    EXPECT_EQ(creature.sightRadius, expected.sight);
    EXPECT_EQ(creature.aggressive, expected.aggressive);
    EXPECT_EQ(creature.fleeThreshold, expected.fleeThreshold);
    EXPECT_EQ(creature.baseDamage, expected.baseDamage);
    EXPECT_EQ(creature.damageRange, expected.damageRange);
    EXPECT_EQ(creature.accuracy, expected.accuracy);
    EXPECT_EQ(creature.armor, 1);
    EXPECT_EQ(creature.weaponDamage, 1);
    EXPECT_TRUE(creature.blocks);
    EXPECT_FALSE(creature.playerSide);
    EXPECT_FALSE(creature.isPlayer);
    // A calm mind with an empty energy store.
    EXPECT_FALSE(creature.angry);
    EXPECT_FALSE(creature.fleeing);
    EXPECT_EQ(creature.target, nullptr);
    EXPECT_EQ(creature.energy, 0);
    EXPECT_EQ(creature.turnsSinceAttack, 0);
    EXPECT_EQ(creature.fleeCounter, 0);
    EXPECT_FALSE(creature.dead);
  }
}

TEST(CreatureKindTest, ACreatureBlocksItsCellForOtherCreatures) {
  auto game = harness::gameFromDrawing({
      "#####",  //
      "#@..#",  //
      "#####",  //
      "#bb##",  //
  });
  const std::vector<NPC*> bats = harness::creaturesOf(*game);
  EXPECT_EQ(game->map->entityAt(1, 3), bats[0]);
  EXPECT_EQ(game->map->entityAt(2, 3), bats[1]);
  // Each bat's only way out is the other bat: it bumps, and neither moves.
  for (int turn = 0; turn < 5; ++turn)
    ASSERT_TRUE(press(*game, "."));
  EXPECT_EQ(bats[0]->x, 1);
  EXPECT_EQ(bats[1]->x, 2);
  EXPECT_EQ(game->map->tileAt(1, 3).entities.size(), 1u);
  EXPECT_EQ(game->map->tileAt(2, 3).entities.size(), 1u);
}

// ---- Population -------------------------------------------------------------------------

// A batch in words, for comparing and for the failure messages.
std::string describe(const PopulationBatch& batch) {
  return std::to_string(batch.count) + (batch.isItem ? " items of kind " : " creatures of kind ") +
         std::to_string(batch.kind) + (batch.redrawAfter ? ", new position after each" : "");
}

// The batches of the four kinds and the stones, in their order, with any batch of a later kind
// left out: 26 bats keeping their position, then 2 stones, 2 bears, the kitten and 5 snakes, each
// placement followed by a new position. Every batch names a kind the game knows.
TEST(PopulationTest, TheBatchesOfTheFourKindsAndTheStonesKeepTheirCountsAndOrder) {
  const PopulationBatch pinned[] = {{26, false, Bat, false},
                                    {2, true, SmallStone, true},
                                    {2, false, Bear, true},
                                    {1, false, Kitten, true},
                                    {5, false, Snake, true}};
  const auto isPinnedKind = [&](const PopulationBatch& batch) {
    return std::any_of(std::begin(pinned), std::end(pinned), [&](const PopulationBatch& row) {
      return row.isItem == batch.isItem && row.kind == batch.kind;
    });
  };
  std::vector<std::string> ofPinnedKinds;
  for (const PopulationBatch& batch : population()) {
    SCOPED_TRACE(describe(batch));
    EXPECT_GT(batch.count, 0);
    if (batch.isItem) {
      EXPECT_NE(Item(nullptr, nullptr, -1, -1, batch.kind).name, "an unidentified item");
    } else {
      EXPECT_NE(statsOf(static_cast<unsigned char>(batch.kind)), nullptr);
    }
    if (isPinnedKind(batch)) ofPinnedKinds.push_back(describe(batch));
  }
  std::vector<std::string> expected;
  for (const PopulationBatch& batch : pinned)
    expected.push_back(describe(batch));
  EXPECT_EQ(ofPinnedKinds, expected);
}

// The glyph of a batch's entities in the order below: a creature's own, '*' for an item.
char batchGlyph(const PopulationBatch& batch) {
  if (batch.isItem) return '*';
  const CreatureStats* stats = statsOf(static_cast<unsigned char>(batch.kind));
  return stats != nullptr ? static_cast<char>(stats->glyph) : '?';
}

TEST(PopulationTest, ANewCaveHoldsItsCreaturesAndStonesInBatchOrder) {
  std::string batchOrder;
  std::set<int> itemKinds;
  std::size_t creatures = 0;
  for (const PopulationBatch& batch : population()) {
    batchOrder += std::string(static_cast<std::size_t>(batch.count), batchGlyph(batch));
    if (batch.isItem) itemKinds.insert(batch.kind);
    if (!batch.isItem) creatures += static_cast<std::size_t>(batch.count);
  }
  for (unsigned seed : {0u, 7u, 4242u}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    harness::fixPartition(seed);
    std::srand(seed);
    Game game;

    // Ids ascend with the order of creation: the player, then the batches in their order (26
    // bats, 2 stones, 2 bears, the kitten, 5 snakes).
    std::string order;
    for (const auto& [id, entity] : game.registry) {
      EXPECT_EQ(id, entity->id);
      if (entity == game.player) {
        EXPECT_TRUE(order.empty()) << "the player comes first";
        continue;
      }
      if (const auto* creature = dynamic_cast<const NPC*>(entity)) {
        order += static_cast<char>(creature->glyph);
      } else if (const auto* item = dynamic_cast<const Item*>(entity)) {
        EXPECT_EQ(itemKinds.count(item->kind), 1u) << "item kind " << item->kind;
        if (item->kind == SmallStone) {
          EXPECT_EQ(item->name, "a small stone");
        }
        order += '*';
      }
    }
    EXPECT_EQ(order, batchOrder);

    std::map<std::pair<int, int>, int> blockersAt;
    for (const auto& entry : game.registry) {
      const Entity& entity = *entry.second;
      ASSERT_TRUE(game.map->contains(entity.x, entity.y));
      EXPECT_TRUE(game.map->isWalkable(entity.x, entity.y))
          << "entity " << entity.id << " on an unwalkable cell " << entity.x << "," << entity.y;
      const auto& list = game.map->tileAt(entity.x, entity.y).entities;
      EXPECT_EQ(std::count(list.begin(), list.end(), &entity), 1) << "on its tile once";
      if (entity.blocks) ++blockersAt[{entity.x, entity.y}];
    }
    for (const auto& [cell, count] : blockersAt) {
      EXPECT_EQ(count, 1) << "two creatures on " << cell.first << "," << cell.second;
    }
    EXPECT_EQ(blockersAt.size(), 1u + creatures);
  }
}

// ---- Energy ------------------------------------------------------------------------------

// A creature walled into a cell of its own, far from the player: it acts every time its energy
// allows, and every action is one wandering draw that leads nowhere.
std::unique_ptr<Game> gameWithWalledIn(char creature) {
  return harness::gameFromDrawing({
      "#####",                     //
      "#.@.#",                     //
      "#####",                     //
      "#####",                     //
      "#####",                     //
      "#####",                     //
      std::string("#") + creature  //
  });
}

TEST(EnergyTest, ABatActsOnceTwiceThenTwiceAndThenSevenTimesInEveryFiveTurns) {
  auto game = gameWithWalledIn('b');
  NPC& bat = *harness::creaturesOf(*game).at(0);
  std::vector<std::size_t> actions;
  std::vector<int> stores;
  for (int turn = 0; turn < 21; ++turn) {
    actions.push_back(waitOneTurn(*game));
    stores.push_back(bat.energy);
  }
  // 14 -> 4, 18 -> 8, 22 -> 12 -> 2
  EXPECT_EQ((std::vector<std::size_t>{actions[0], actions[1], actions[2]}),
            (std::vector<std::size_t>{1, 1, 2}));
  EXPECT_EQ((std::vector<int>{stores[0], stores[1], stores[2]}), (std::vector<int>{4, 8, 2}));
  // Five turns bring 70 energy. The first five start from an empty store and end holding 10,
  // which is not yet enough to act on: six actions. From then on every five turns hold seven.
  const auto actionsIn = [&](std::size_t from) {
    std::size_t sum = 0;
    for (std::size_t t = from; t < from + 5; ++t)
      sum += actions[t];
    return sum;
  };
  EXPECT_EQ(actionsIn(0), 6u);
  EXPECT_EQ(stores[4], 10);
  for (std::size_t from = 1; from + 5 <= actions.size(); ++from) {
    EXPECT_EQ(actionsIn(from), 7u) << "turns " << from + 1 << " to " << from + 5;
  }
  EXPECT_EQ(bat.x, 1);
}

TEST(EnergyTest, ABearActsWhenItsStorePassesTen) {
  auto game = gameWithWalledIn('B');
  NPC& bear = *harness::creaturesOf(*game).at(0);
  // store before acting: 8, 16, 14, 12, 10, 18
  const std::size_t expectedActions[] = {0, 1, 1, 1, 0, 1};
  const int expectedStores[] = {8, 6, 4, 2, 10, 8};
  for (int turn = 0; turn < 6; ++turn) {
    SCOPED_TRACE(testing::Message() << "turn " << turn + 1);
    EXPECT_EQ(waitOneTurn(*game), expectedActions[turn]);
    EXPECT_EQ(bear.energy, expectedStores[turn]);
  }
}

// ---- Looking for prey and wandering ------------------------------------------------------

TEST(PreyTest, ASnakeNoticesThePlayerFourCellsAwayAndStepsTowardItAtOnce) {
  for (const std::vector<std::string>& drawing : std::vector<std::vector<std::string>>{
           {"#######", "#@...s#", "#######"},
           {"###", "#@#", "#.#", "#.#", "#.#", "#s#", "###"},
       }) {
    auto game = harness::gameFromDrawing(drawing);
    NPC& snake = *harness::creaturesOf(*game).at(0);
    const int startX = snake.x;
    const int startY = snake.y;
    ASSERT_FLOAT_EQ(game->map->distance(snake.x, snake.y, 1, 1), 4.0f);
    EXPECT_EQ(waitOneTurn(*game), 0u) << "hunting draws nothing";
    EXPECT_TRUE(snake.angry);
    EXPECT_EQ(snake.target, game->player);
    EXPECT_EQ(game->map->distance(snake.x, snake.y, 1, 1), 3.0f);
    EXPECT_EQ(std::abs(snake.x - startX) + std::abs(snake.y - startY), 1);
  }
}

TEST(PreyTest, ASnakeDoesNotNoticeThePlayerFiveCellsAway) {
  auto game = harness::gameFromDrawing({"########", "#@....s#", "########"});
  NPC& snake = *harness::creaturesOf(*game).at(0);
  EXPECT_EQ(waitOneTurn(*game), 1u) << "it wandered instead";
  EXPECT_FALSE(snake.angry);
  EXPECT_EQ(snake.target, nullptr);
}

// What counts is the player's own view, and the player always stands in it: a wall between
// does not hide the player from a snake within its sight.
TEST(PreyTest, TheViewThatCountsIsThePlayers) {
  auto game = harness::gameFromDrawing({
      "#######",  //
      "#@#.s.#",  //
      "#.....#",  //
      "#######",  //
  });
  NPC& snake = *harness::creaturesOf(*game).at(0);
  ASSERT_FALSE(game->map->isInFov(4, 1));
  EXPECT_EQ(waitOneTurn(*game), 0u);
  EXPECT_TRUE(snake.angry);
  EXPECT_EQ(snake.target, game->player);
  EXPECT_EQ(snake.x, 3) << "on its way round the wall";
}

TEST(PreyTest, BatsAndTheKittenNeverLookForPrey) {
  auto game = harness::gameFromDrawing({
      "#####",  //
      "#@b.#",  //
      "#k..#",  //
      "#####",  //
  });
  for (int turn = 0; turn < 30; ++turn) {
    ASSERT_TRUE(press(*game, "."));
    for (const NPC* creature : harness::creaturesOf(*game)) {
      // A wandering step into the player is an attack, which angers the player, not them.
      ASSERT_FALSE(creature->angry) << creature->name << " at turn " << turn + 1;
      ASSERT_EQ(creature->target, nullptr);
    }
  }
}

TEST(WanderTest, AWanderingCreatureTriesTheCompassFromARandomDirection) {
  auto game = harness::gameFromDrawing({
      "#######",  //
      "#@....#",  //
      "#######",  //
      "#b.####",  //
      "#.#####",  //
  });
  NPC& bat = *harness::creaturesOf(*game).at(0);
  int south = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    bat.moveTo(1, 3);
    bat.energy = 0;
    std::srand(seed);
    const int first = std::rand() % 8;
    // From the first direction on, around the compass: only east (1) and south (3) are open.
    const bool goesSouth = first == North || first == South;
    south += goesSouth ? 1 : 0;
    EXPECT_EQ(waitOneTurn(*game, seed), 1u);
    EXPECT_EQ(bat.x, goesSouth ? 1 : 2) << "seed " << seed << ", first direction " << first;
    EXPECT_EQ(bat.y, goesSouth ? 4 : 3) << "seed " << seed << ", first direction " << first;
  }
  EXPECT_GT(south, 0);
  EXPECT_LT(south, 40);
}

// ---- Hunting ----------------------------------------------------------------------------

TEST(HuntTest, AnAdjacentHunterBumpsItsTargetInsteadOfMoving) {
  auto game = harness::gameFromDrawing({
      "#####",  //
      "#@B.#",  //
      "#####",  //
  });
  NPC& bear = *harness::creaturesOf(*game).at(0);
  bear.angry = true;
  bear.target = game->player;
  bear.turnsSinceAttack = 5;
  bear.energy = 10;  // one action this turn
  // From srand(20240601) the hit roll is 3, under the bear's accuracy of 7; then its damage
  // roll (1 of 0-2), its weapon roll and the player's armour roll (both 0 of 0): 1 + 5 = 6.
  EXPECT_EQ(waitOneTurn(*game), 4u);
  EXPECT_EQ(bear.x, 2);
  EXPECT_EQ(game->player->x, 1);
  EXPECT_EQ(bear.turnsSinceAttack, 0);
  EXPECT_EQ(harness::lastMessage(*game), "The bear hits you for 6 damage!");
}

TEST(HuntTest, AHunterFindsItsWayAroundWallsStepByStep) {
  auto game = harness::gameFromDrawing({
      "#######",  //
      "#@....#",  //
      "####..#",  //
      "#B....#",  //
      "#######",  //
  });
  NPC& bear = *harness::creaturesOf(*game).at(0);
  bear.angry = true;
  bear.target = game->player;
  int actions = 0;
  const auto nextToThePlayer = [&] {
    return std::abs(bear.x - 1) <= 1 && std::abs(bear.y - 1) <= 1;
  };
  while (!nextToThePlayer() && actions < 12) {
    const int fromX = bear.x;
    const int fromY = bear.y;
    bear.energy = 10;
    ASSERT_EQ(waitOneTurn(*game), 0u);
    ++actions;
    EXPECT_EQ(std::max(std::abs(bear.x - fromX), std::abs(bear.y - fromY)), 1)
        << "one step per action";
    EXPECT_TRUE(game->map->isWalkable(bear.x, bear.y));
  }
  ASSERT_TRUE(nextToThePlayer()) << "the bear never found the gap";
  EXPECT_EQ(actions, 5);  // east twice, north-east, north-west, west: the cheapest way round
  bear.energy = 10;
  ASSERT_TRUE(press(*game, "."));
  EXPECT_EQ(harness::lastMessage(*game).rfind("The bear ", 0), 0u) << "then it attacks";
}

TEST(HuntTest, AHunterWithNoWayToItsTargetStaysPut) {
  auto game = gameWithWalledIn('B');
  NPC& bear = *harness::creaturesOf(*game).at(0);
  bear.angry = true;
  bear.target = game->player;
  for (int turn = 0; turn < 5; ++turn) {
    bear.energy = 10;
    EXPECT_EQ(waitOneTurn(*game), 0u);
    EXPECT_EQ(bear.x, 1);
    EXPECT_EQ(bear.y, 6);
    EXPECT_TRUE(bear.angry);
  }
}

// ---- Calming down -----------------------------------------------------------------------

TEST(CalmDownTest, AnAngryCreatureForgetsItsTargetAfterMoreThanTenTurnsWithoutAttacking) {
  auto game = gameWithWalledIn('b');  // a bat never looks for prey again
  NPC& bat = *harness::creaturesOf(*game).at(0);
  bat.angry = true;
  bat.target = game->player;
  for (int turn = 1; turn <= 10; ++turn) {
    EXPECT_EQ(waitOneTurn(*game), 0u) << "still hunting at turn " << turn;
    EXPECT_TRUE(bat.angry);
    EXPECT_EQ(bat.target, game->player);
    EXPECT_EQ(bat.turnsSinceAttack, turn);
  }
  EXPECT_GE(waitOneTurn(*game), 1u) << "calm again, it wanders";
  EXPECT_FALSE(bat.angry);
  EXPECT_EQ(bat.target, nullptr);
}

TEST(CalmDownTest, AnAttackResetsTheCount) {
  auto game = harness::gameFromDrawing({
      "#####",  //
      "#@B.#",  //
      "#####",  //
  });
  NPC& bear = *harness::creaturesOf(*game).at(0);
  game->player->hp = 1000;
  game->player->maxHp = 1000;
  bear.angry = true;
  bear.target = game->player;
  for (int turn = 0; turn < 40; ++turn)
    ASSERT_TRUE(press(*game, "."));
  EXPECT_TRUE(bear.angry) << "a bear that keeps attacking keeps its target";
  // Speed 8 acts in four turns of every five, the fifth (turn 40) without an attack.
  EXPECT_EQ(bear.turnsSinceAttack, 1);
}

// ---- Flight -----------------------------------------------------------------------------

TEST(FlightTest, AWoundedAngryCreatureFleesAfterItsActionAndRunsAway) {
  for (int hp : {5, 4}) {
    SCOPED_TRACE(testing::Message() << "hp " << hp);
    auto game = harness::gameFromDrawing({
        "############",  //
        "#@....B....#",  //
        "############",  //
    });
    NPC& bear = *harness::creaturesOf(*game).at(0);
    bear.angry = true;
    bear.target = game->player;
    bear.hp = hp;
    bear.energy = 10;
    ASSERT_TRUE(press(*game, "."));
    EXPECT_EQ(bear.x, 5) << "the action itself was a hunting step";
    if (hp > bear.fleeThreshold) {
      EXPECT_TRUE(bear.angry);
      EXPECT_FALSE(bear.fleeing);
      continue;
    }
    EXPECT_EQ(harness::lastMessage(*game), "The bear is fleeing!");
    EXPECT_TRUE(bear.fleeing);
    EXPECT_FALSE(bear.angry);
    EXPECT_EQ(bear.target, game->player) << "it runs from its target";
    for (int step = 1; step <= 4; ++step) {
      bear.energy = 10;
      ASSERT_TRUE(press(*game, "."));
      EXPECT_EQ(bear.x, 5 + step);
      EXPECT_EQ(bear.fleeCounter, step);
    }
  }
}

TEST(FlightTest, AFlightAgainstAWallStillSpendsItsActionsAndEndsAfterTen) {
  auto game = harness::gameFromDrawing({
      "#####",  //
      "#@.B#",  //
      "#####",  //
  });
  NPC& bear = *harness::creaturesOf(*game).at(0);
  bear.fleeing = true;
  bear.target = game->player;
  for (int action = 1; action <= 9; ++action) {
    bear.energy = 10;
    ASSERT_EQ(waitOneTurn(*game), 0u);
    EXPECT_EQ(bear.x, 3);
    EXPECT_TRUE(bear.fleeing);
    EXPECT_EQ(bear.fleeCounter, action);
  }
  bear.energy = 10;
  ASSERT_EQ(waitOneTurn(*game), 0u);
  EXPECT_FALSE(bear.fleeing);
  EXPECT_FALSE(bear.angry);
  EXPECT_EQ(bear.target, nullptr);
  EXPECT_EQ(bear.fleeCounter, 0);
  EXPECT_EQ(bear.x, 3);
}

TEST(FlightTest, AFleeingCreatureWhoseTargetWasForgottenEndsItsFlight) {
  auto game = gameWithWalledIn('b');
  NPC& bat = *harness::creaturesOf(*game).at(0);
  // Attacked while fleeing and not attacking since: the calm-down clears the target first.
  bat.fleeing = true;
  bat.angry = true;
  bat.target = game->player;
  bat.fleeCounter = 3;
  bat.turnsSinceAttack = 10;
  bat.energy = 10;  // two actions: the end of the flight, then a wandering one
  EXPECT_EQ(waitOneTurn(*game), 1u);
  EXPECT_FALSE(bat.fleeing);
  EXPECT_FALSE(bat.angry);
  EXPECT_EQ(bat.target, nullptr);
  EXPECT_EQ(bat.fleeCounter, 0);
  EXPECT_EQ(bat.x, 1);
}

TEST(FlightTest, TheKittenStruckByThePlayerHuntsOnceThenFlees) {
  auto game = harness::gameFromDrawing({
      "########",  //
      "#@k....#",  //
      "########",  //
  });
  NPC& kitten = *harness::creaturesOf(*game).at(0);
  kitten.hp = 100;  // survives the blow, then comes down to its threshold below
  game->player->accuracy = 10;
  ASSERT_TRUE(press(*game, "l"));
  EXPECT_TRUE(kitten.angry);
  EXPECT_EQ(kitten.target, game->player);
  kitten.hp = 1;
  kitten.energy = 10;
  ASSERT_TRUE(press(*game, "."));
  const std::vector<std::string> log = harness::messages(*game);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "The kitten is fleeing!");
  EXPECT_EQ(log[1], "The kitten misses you!");
  EXPECT_EQ(kitten.x, 2);
  for (int step = 1; step <= 10; ++step) {
    kitten.energy = 10;
    ASSERT_TRUE(press(*game, "."));
    EXPECT_EQ(kitten.x, std::min(2 + step, 6));
  }
  EXPECT_FALSE(kitten.fleeing);
  EXPECT_EQ(kitten.target, nullptr);
}

}  // namespace

// The state as text: one fact per line under a unique name, every change of the game shows as
// the line of the fact that changed, the hash never moves without the text, and the catalog
// writes only what changed.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "Game.hpp"
#include "Item.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Scenario.hpp"
#include "State.hpp"

namespace {

using namespace harness;

// The player with a bat to the east and a bear below it.
std::unique_ptr<Game> smallGame() {
  return gameFromDrawing({
      "#####",
      "#@b.#",
      "#.B.#",
      "#####",
  });
}

std::string idOf(const Game& game, const char* creature) {
  return std::to_string(creatureNamed(game, creature)->id);
}

TEST(StateTextTest, IsOneFactPerLineUnderUniqueNames) {
  auto game = smallGame();
  const std::string text = stateText(*game, 7);
  EXPECT_EQ(stateText(*game, 7), text);
  std::istringstream lines(text);
  std::set<std::string> names;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(": ");
    ASSERT_NE(colon, std::string::npos) << line;
    EXPECT_TRUE(names.insert(line.substr(0, colon)).second) << "named twice: " << line;
  }
  EXPECT_EQ(text.rfind("game turnCount: 0\n", 0), 0u) << text.substr(0, 200);
  EXPECT_NE(text.find("game rand draws: 7\n"), std::string::npos);
  EXPECT_EQ(stateText(*game).find("rand draws"), std::string::npos);
}

// Each change of the game, the line the text then holds, and whether the hash covers it.
struct Change {
  const char* what;
  std::function<void(Game&)> apply;
  std::function<std::string(const Game&)> line;
  bool hashed;
};

TEST(StateTextTest, EveryChangeShowsAsItsFactAndTheHashNeverMovesAlone) {
  const Change changes[] = {
      {"the turn", [](Game& g) { g.turnCount = 5; },
       [](const Game&) { return "game turnCount: 5"; }, true},
      {"a bat's base damage", [](Game& g) { creatureNamed(g, "bat")->baseDamage = 3; },
       [](const Game& g) { return "creature " + idOf(g, "bat") + " bat baseDamage: 3"; }, false},
      {"a bear's anger", [](Game& g) { creatureNamed(g, "bear")->angry = true; },
       [](const Game& g) { return "creature " + idOf(g, "bear") + " bear angry: yes"; }, true},
      {"a bat's target", [](Game& g) { creatureNamed(g, "bat")->target = g.player; },
       [](const Game& g) {
         return "creature " + idOf(g, "bat") + " bat target: " + std::to_string(g.player->id);
       },
       true},
      {"hunger", [](Game& g) { g.player->hunger = 99; },
       [](const Game&) { return "player hunger: 99"; }, true},
      {"an explored cell", [](Game& g) { g.map->tileAt(1, 1).explored = true; },
       [](const Game&) { return "map row 1 explored: .#"; }, true},
      {"a message with a line break", [](Game& g) { g.messageLog.add("Two\nlines"); },
       [](const Game&) { return "log 0 text: \"Two\\x0Alines\""; }, true},
      {"the carried meat", [](Game& g) { g.player->inventory[0]->bonus = 4; },
       [](const Game& g) {
         return "inventory 0 item " + std::to_string(g.player->inventory[0]->id) +
                " mysterious hunk of meat bonus: 4";
       },
       true},
  };
  for (const Change& change : changes) {
    auto game = smallGame();
    const std::string before = stateText(*game);
    const std::uint64_t hash = stateHash(*game);
    change.apply(*game);
    const std::string after = stateText(*game);
    EXPECT_NE(after, before) << change.what;
    EXPECT_NE(after.find(change.line(*game)), std::string::npos) << change.what << "\n" << after;
    EXPECT_EQ(stateHash(*game) != hash, change.hashed) << change.what;
  }
}

TEST(StateCatalogTest, WritesTheFirstStateInFullThenOnlyWhatChanged) {
  StateCatalog catalog;
  EXPECT_EQ(catalog.add("key 1", "a x: 1\nb: 2\nb: 3\n"), "== key 1\na x: 1\nb: 2\nb #2: 3\n");
  EXPECT_EQ(catalog.add("key 2", "a x: 1\nb: 2\nb: 4\nc: 5\n"), "== key 2\nb #2: 4\nc: 5\n");
  EXPECT_EQ(catalog.add("key 3", "a x: 1\nc: 5\n"), "== key 3\n(gone) b\n(gone) b #2\n");
  EXPECT_EQ(catalog.add("key 4", "a x: 1\nc: 5\n"), "== key 4\n");
}

}  // namespace

#include "Scenario.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <stdexcept>

#include "Headless.hpp"
#include "Item.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Rig.hpp"

namespace harness {

namespace {

// What the characters of a drawing stand for (see gameFromDrawing).
template <typename Kind>
struct Symbol {
  char c;
  Kind kind;
};

constexpr std::array<Symbol<TileKind>, 3> kTerrain = {{
    // character, tile
    {'#', Wall},
    {'~', Water},
    {',', ShallowWater},
}};

constexpr std::array<Symbol<int>, 4> kCreatures = {{
    // character, creature kind
    {'b', Bat},
    {'s', Snake},
    {'B', Bear},
    {'k', Kitten},
}};

// The kind `c` stands for in `symbols`, or `otherwise`.
template <typename Kind, std::size_t N>
Kind lookUp(const std::array<Symbol<Kind>, N>& symbols, char c, Kind otherwise) {
  for (const Symbol<Kind>& symbol : symbols) {
    if (symbol.c == c) return symbol.kind;
  }
  return otherwise;
}

char at(const std::vector<std::string>& rows, int x, int y) {
  if (x < 0 || y < 0 || y >= static_cast<int>(rows.size())) return '#';
  const std::string& row = rows[static_cast<std::size_t>(y)];
  return x < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(x)] : '#';
}

}  // namespace

std::unique_ptr<Game> gameFromDrawing(const std::vector<std::string>& rows, int left, int top) {
  auto game = std::make_unique<Game>();
  Map& map = *game->map;
  std::size_t widest = 0;
  for (const std::string& row : rows)
    widest = std::max(widest, row.size());
  if (left < 0 || top < 0 || left + static_cast<int>(widest) > map.width ||
      top + static_cast<int>(rows.size()) > map.height) {
    throw std::invalid_argument("the drawing does not fit the level there");
  }
  for (auto it = game->registry.begin(); it != game->registry.end();) {
    if (it->second == game->player) {
      ++it;
      continue;
    }
    delete it->second;
    it = game->registry.erase(it);
  }
  bool playerPlaced = false;
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      const char c = at(rows, x - left, y - top);
      map.setTile(x, y, lookUp(kTerrain, c, Floor));
      map.tileAt(x, y).explored = false;
      if (c == '@') {
        if (playerPlaced) throw std::invalid_argument("a drawing holds exactly one '@'");
        game->player->moveTo(x, y);
        playerPlaced = true;
      }
    }
  }
  if (!playerPlaced) throw std::invalid_argument("a drawing holds exactly one '@'");
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      const char c = at(rows, x - left, y - top);
      if (const int kind = lookUp(kCreatures, c, -1); kind >= 0) {
        game->registerEntity(
            new NPC(&game->messageLog, &map, x, y, static_cast<unsigned char>(kind)));
      } else if (c == '*') {
        game->registerEntity(new Item(&game->messageLog, &map, x, y, SmallStone));
      }
    }
  }
  map.computeFov(game->player->x, game->player->y, 5);
  std::srand(kScenarioSeed);
  fixPartition(kScenarioSeed);
  return game;
}

bool press(Game& game, std::string_view script) {
  KeyScript keys(script);
  bool result = true;
  while (keys.remaining() > 0)
    result = game.update();
  if (keys.ranOut())
    throw std::logic_error("press: the game waited for more keys than the script had");
  return result;
}

std::vector<NPC*> creaturesOf(const Game& game) {
  std::vector<NPC*> creatures;
  for (const auto& entry : game.registry) {
    auto* creature = dynamic_cast<NPC*>(entry.second);
    if (creature != nullptr && creature != game.player) creatures.push_back(creature);
  }
  return creatures;
}

NPC* creatureNamed(const Game& game, const std::string& name) {
  for (NPC* creature : creaturesOf(game)) {
    if (creature->name == name) return creature;
  }
  return nullptr;
}

std::string lastMessage(const Game& game) {
  const auto& entries = game.messageLog.entries();
  return entries.empty() ? std::string() : entries.front().text;
}

std::vector<std::string> messages(const Game& game) {
  std::vector<std::string> texts;
  for (const auto& entry : game.messageLog.entries())
    texts.push_back(entry.text);
  return texts;
}

}  // namespace harness

#include "Scenario.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <stdexcept>

#include "Item.hpp"
#include "Keys.hpp"
#include "NPC.hpp"
#include "Player.hpp"

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

// The kind `c` stands for in `symbols`, or `otherwise`.
template <typename Kind, std::size_t N>
Kind lookUp(const std::array<Symbol<Kind>, N>& symbols, char c, Kind otherwise) {
  for (const Symbol<Kind>& symbol : symbols) {
    if (symbol.c == c) return symbol.kind;
  }
  return otherwise;
}

// The creature kind whose glyph `c` is (kCreatureKinds), or -1.
int creatureDrawnAs(char c) {
  for (const CreatureStats& stats : kCreatureKinds) {
    if (stats.glyph == c) return stats.kind;
  }
  return -1;
}

char at(const std::vector<std::string>& rows, int x, int y) {
  if (x < 0 || y < 0 || y >= static_cast<int>(rows.size())) return '#';
  const std::string& row = rows[static_cast<std::size_t>(y)];
  return x < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(x)] : '#';
}

}  // namespace

// ---- Randomness ------------------------------------------------------------------------------

void fixPartition(std::uint32_t seed) {
  const TCODRandom fresh(seed);
  TCODRandom::getInstance()->restore(&fresh);
}

std::size_t countRandDraws(const std::function<void()>& action, unsigned seed, std::size_t limit) {
  std::srand(seed);
  action();
  // The two numbers that follow the action mark where it stopped; two in a row cannot turn up
  // earlier in the sequence by chance.
  const int first = std::rand();
  const int second = std::rand();

  std::srand(seed);
  int previous = std::rand();
  for (std::size_t draws = 0; draws <= limit; ++draws) {
    const int current = std::rand();
    if (previous == first && current == second) {
      std::srand(seed);
      for (std::size_t i = 0; i < draws; ++i)
        std::rand();
      return draws;
    }
    previous = current;
  }
  throw std::runtime_error("countRandDraws: the action drew more than " + std::to_string(limit) +
                           " numbers, or reseeded rand()");
}

unsigned seedWhoseFirstDraw(const std::function<bool(int)>& wanted, unsigned from) {
  for (unsigned seed = from;; ++seed) {
    std::srand(seed);
    if (wanted(std::rand())) return seed;
  }
}

// ---- Levels ----------------------------------------------------------------------------------

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
      if (const int kind = creatureDrawnAs(c); kind >= 0) {
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
  while (keys.remaining() > 0) {
    if (!result) throw std::logic_error("press: the run ended before the script did");
    result = game.update();
  }
  if (keys.ranOut())
    throw std::logic_error("press: the game waited for more keys than the script had");
  return result;
}

bool press(Game& game, const TCOD_key_t& key) {
  return press(game, describeKey(key));
}

Item* carry(Game& game, int kind) {
  auto* item = new Item(&game.messageLog, game.map.get(), -1, -1, kind);
  game.player->inventory.push_back(item);
  return item;
}

bool isRegistered(const Game& game, const Entity* entity) {
  return std::any_of(game.registry.begin(), game.registry.end(),
                     [entity](const auto& entry) { return entry.second == entity; });
}

// ---- Test names ------------------------------------------------------------------------------

std::string caseName(std::string_view words) {
  std::string name;
  for (const char c : words) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (plain) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && name.back() == '_')
    name.pop_back();
  return name.empty() ? "_" : name;
}

// ---- Reading the game back -------------------------------------------------------------------

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

#include "State.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "Entity.hpp"
#include "Game.hpp"
#include "Item.hpp"
#include "Map.hpp"
#include "MessageLog.hpp"
#include "NPC.hpp"
#include "Player.hpp"
#include "Tile.hpp"

namespace harness {
namespace {

// ---- Where the facts go -----------------------------------------------------------------------

// Receives the facts of a game one by one, in the order of the walk below. The hash takes the
// hashed facts as bytes, the text writes every fact as a line.
class Facts {
 public:
  virtual ~Facts() = default;
  // The facts that follow are about `name` ("game", "creature 12 bat").
  virtual void subject(const std::string& name) = 0;
  // A hashed number (8 bytes), a hashed flag (1 byte), a hashed byte, a hashed text.
  virtual void number(const char* field, std::int64_t value) = 0;
  virtual void flag(const char* field, bool value) = 0;
  virtual void byte(const char* field, std::uint8_t value, const char* meaning) = 0;
  virtual void text(const char* field, const std::string& value) = 0;
  // A fact in the text only (the hash is older than it and the golden hashes pin the hash).
  virtual void shown(const char* field, const std::string& value) = 0;
  // One cell of the level: whether it is explored and the ids of what lies on it.
  virtual void cell(int x, int y, bool explored, const std::vector<std::int64_t>& ids) = 0;
  // The cells of row `y` are all in.
  virtual void endRow(int y) = 0;

  // Each value in turn under the field names of `fields` ("hp maxHp angry"): a bool as a
  // flag, any other number as a number.
  template <typename... Values>
  void fields(std::string_view names, const Values&... values) {
    (field(nextName(names), values), ...);
  }

 private:
  static std::string nextName(std::string_view& names) {
    const std::size_t end = names.find(' ');
    const std::string name(names.substr(0, end));
    names.remove_prefix(end == std::string_view::npos ? names.size() : end + 1);
    return name;
  }
  template <typename Value>
  void field(const std::string& name, const Value& value) {
    if constexpr (std::is_same_v<Value, bool>) {
      flag(name.c_str(), value);
    } else {
      number(name.c_str(), static_cast<std::int64_t>(value));
    }
  }
};

// 64-bit FNV-1a over explicitly laid out bytes, so the hash is the same on every machine.
class HashFacts final : public Facts {
 public:
  void subject(const std::string&) override {}
  void number(const char*, std::int64_t value) override {
    const auto bits = static_cast<std::uint64_t>(value);
    for (int shift = 0; shift < 64; shift += 8)
      add(static_cast<std::uint8_t>(bits >> shift));
  }
  void flag(const char*, bool value) override { add(value ? 1 : 0); }
  void byte(const char*, std::uint8_t value, const char*) override { add(value); }
  void text(const char* field, const std::string& value) override {
    number(field, static_cast<std::int64_t>(value.size()));
    for (char c : value)
      add(static_cast<std::uint8_t>(c));
  }
  void shown(const char*, const std::string&) override {}
  void cell(int, int, bool explored, const std::vector<std::int64_t>& ids) override {
    flag(nullptr, explored);
    if (ids.empty()) return;
    number(nullptr, static_cast<std::int64_t>(ids.size()));
    for (std::int64_t id : ids)
      number(nullptr, id);
  }

  void endRow(int) override {}

  std::uint64_t value() const { return hash; }

 private:
  void add(std::uint8_t value) {
    hash ^= value;
    hash *= 0x100000001B3ull;
  }

  std::uint64_t hash = 0xCBF29CE484222325ull;
};

// `value` on one line: bytes below 32, above 126 and the backslash as \xNN.
std::string escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte < 127 && c != '\\') {
      out += c;
      continue;
    }
    char code[5];
    std::snprintf(code, sizeof code, "\\x%02X", byte);
    out += code;
  }
  return out;
}

// The facts as lines; each row of the level as one line of '#' (explored) and '.' (not).
class TextFacts final : public Facts {
 public:
  void subject(const std::string& name) override { current = name; }
  void number(const char* field, std::int64_t value) override {
    line(field, std::to_string(value));
  }
  void flag(const char* field, bool value) override { line(field, value ? "yes" : "no"); }
  void byte(const char* field, std::uint8_t value, const char* meaning) override {
    line(field, std::to_string(value) + " (" + meaning + ")");
  }
  void text(const char* field, const std::string& value) override {
    line(field, "\"" + escaped(value) + "\"");
  }
  void shown(const char* field, const std::string& value) override { line(field, value); }
  void cell(int x, int y, bool explored, const std::vector<std::int64_t>& ids) override {
    if (x == 0) row.clear();
    row += explored ? '#' : '.';
    if (!ids.empty()) {
      std::string list;
      for (std::int64_t id : ids)
        list += (list.empty() ? "" : " ") + std::to_string(id);
      out += "cell " + std::to_string(x) + "," + std::to_string(y) + " holds: " + list + "\n";
    }
  }
  void endRow(int y) override {
    out += "map row " + std::to_string(y) + " explored: " + row + "\n";
  }

  const std::string& lines() const { return out; }

 private:
  void line(const char* field, const std::string& value) {
    out += current + " " + field + ": " + value + "\n";
  }

  std::string current;
  std::string row;
  std::string out;
};

// ---- The walk over a game ----------------------------------------------------------------------

// What kind of entity a subject is; its number is part of the hash.
enum EntityTag : std::uint8_t { PlainTag = 0, ItemTag = 1, CreatureTag = 2, PlayerTag = 3 };
constexpr const char* kTagNames[] = {"entity", "item", "creature", "player"};
static_assert(std::size(kTagNames) == PlayerTag + 1, "a name for every entity tag");

EntityTag tagOf(const Entity& entity) {
  const auto* creature = dynamic_cast<const NPC*>(&entity);
  if (dynamic_cast<const Item*>(&entity) != nullptr) return ItemTag;
  if (creature == nullptr) return PlainTag;
  return creature->isPlayer ? PlayerTag : CreatureTag;
}

std::string yesNo(bool value) {
  return value ? "yes" : "no";
}

void walkItem(Facts& facts, const Item& item) {
  facts.number("kind", item.kind);
  facts.text("name", item.name);
  facts.fields("equipped slot bonus", item.equipped, item.slot, item.bonus);
  facts.shown("eatable", yesNo(item.eatable));
  facts.shown("butcherable", yesNo(item.butcherable));
  facts.shown("craftable", yesNo(item.craftable));
}

// The values a creature takes from its kind's row, which the hash never covered.
void showKindValues(Facts& facts, const NPC& creature) {
  facts.shown("name", "\"" + escaped(creature.name) + "\"");
  facts.shown("aggressive", yesNo(creature.aggressive));
  const std::pair<const char*, int> values[] = {
      {"speed", creature.speed},
      {"sightRadius", creature.sightRadius},
      {"fleeThreshold", creature.fleeThreshold},
      {"baseDamage", creature.baseDamage},
      {"damageRange", creature.damageRange},
      {"accuracy", creature.accuracy},
  };
  for (const auto& [field, value] : values)
    facts.shown(field, std::to_string(value));
}

void walkCreature(Facts& facts, const NPC& creature) {
  facts.fields("kind hp maxHp angry fleeing fleeCounter turnsSinceAttack energy armor weaponDamage",
               creature.kind, creature.hp, creature.maxHp, creature.angry, creature.fleeing,
               creature.fleeCounter, creature.turnsSinceAttack, creature.energy, creature.armor,
               creature.weaponDamage);
  facts.number("target",
               creature.target != nullptr ? static_cast<std::int64_t>(creature.target->id) : -1);
  showKindValues(facts, creature);
}

std::string subjectName(EntityTag tag, std::uint32_t id, const Entity& entity) {
  std::string name = std::string(kTagNames[tag]) + " " + std::to_string(id);
  if (const auto* item = dynamic_cast<const Item*>(&entity))
    return name + " " + escaped(item->name);
  if (const auto* creature = dynamic_cast<const NPC*>(&entity); creature && !creature->isPlayer)
    return name + " " + escaped(creature->name);
  return name;
}

void walkEntity(Facts& facts, std::uint32_t id, const Entity& entity) {
  const EntityTag tag = tagOf(entity);
  facts.subject(subjectName(tag, id, entity));
  facts.number("registered as", id);
  facts.byte("is", tag, kTagNames[tag]);
  facts.fields("id x y glyph blocks dead playerSide", entity.id, entity.x, entity.y, entity.glyph,
               entity.blocks, entity.dead, entity.playerSide);
  if (const auto* item = dynamic_cast<const Item*>(&entity)) walkItem(facts, *item);
  if (const auto* creature = dynamic_cast<const NPC*>(&entity)) walkCreature(facts, *creature);
}

void walkPlayer(Facts& facts, const Player& player) {
  facts.subject("player");
  facts.fields("hunger regenCounter items", player.hunger, player.regenCounter,
               player.inventory.size());
  for (std::size_t index = 0; index < player.inventory.size(); ++index) {
    const Item& item = *player.inventory[index];
    facts.subject("inventory " + std::to_string(index) + " item " + std::to_string(item.id) + " " +
                  escaped(item.name));
    facts.number("id", item.id);
    walkItem(facts, item);
  }
  facts.subject("player");
  const char* const slots[] = {"equipment 0", "equipment 1", "equipment 2", "equipment 3"};
  static_assert(std::size(slots) == std::tuple_size_v<decltype(player.equipment)>);
  for (std::size_t slot = 0; slot < player.equipment.size(); ++slot) {
    const Item* worn = player.equipment[slot];
    facts.number(slots[slot], worn != nullptr ? static_cast<std::int64_t>(worn->id) : -1);
  }
}

// The level's cells, row by row: explored, and what lies there in arrival order (dropped
// items nobody registered included).
void walkMap(Facts& facts, const Map& map) {
  std::vector<std::int64_t> ids;
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      const Tile& tile = map.tileAt(x, y);
      ids.clear();
      for (const Entity* entity : tile.entities)
        ids.push_back(entity->id);
      facts.cell(x, y, tile.explored, ids);
    }
    facts.endRow(y);
  }
}

void walkLog(Facts& facts, const MessageLog& log) {
  facts.subject("log");
  facts.number("entries", static_cast<std::int64_t>(log.entries().size()));
  int index = 0;  // 0 is the newest
  for (const MessageLog::Entry& entry : log.entries()) {
    facts.subject("log " + std::to_string(index++));
    facts.text("text", entry.text);
    facts.number("height", entry.height);
  }
}

void walkGame(Facts& facts, const Game& game, long long randDraws) {
  facts.subject("game");
  facts.fields("turnCount killCount storyStage mode", game.turnCount, game.killCount,
               game.storyStage, game.mode);
  if (randDraws >= 0) facts.shown("rand draws", std::to_string(randDraws));
  walkPlayer(facts, *game.player);
  facts.subject("game");
  facts.number("entities", static_cast<std::int64_t>(game.registry.size()));
  for (const auto& [id, entity] : game.registry)
    walkEntity(facts, id, *entity);
  walkMap(facts, *game.map);
  walkLog(facts, game.messageLog);
}

}  // namespace

std::string stateText(const Game& game, long long randDraws) {
  TextFacts facts;
  walkGame(facts, game, randDraws);
  return facts.lines();
}

std::uint64_t stateHash(const Game& game) {
  HashFacts facts;
  walkGame(facts, game, -1);
  return facts.value();
}

// ---- The catalog -------------------------------------------------------------------------------

namespace {

// A fact line's name: everything before its first ": " (the whole line for a map cell list).
std::string factName(const std::string& line) {
  return line.substr(0, line.find(": "));
}

}  // namespace

std::string StateCatalog::add(const std::string& header, const std::string& text) {
  std::map<std::string, std::string> now;
  std::unordered_map<std::string, int> seen;  // a name written twice gets " #2" and so on
  std::string out = "== " + header + "\n";
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    std::string name = factName(line);
    if (const int times = ++seen[name]; times > 1) name += " #" + std::to_string(times);
    const std::string value = line.substr(std::min(line.size(), factName(line).size()));
    const auto before = facts.find(name);
    if (before == facts.end() || before->second != value) out += name + value + "\n";
    now.emplace(name, value);
  }
  for (const auto& [name, value] : facts) {
    if (now.count(name) == 0) out += "(gone) " + name + "\n";
  }
  facts = std::move(now);
  return out;
}

}  // namespace harness

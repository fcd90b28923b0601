#include "Tile.hpp"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "Entity.hpp"

namespace {

// Indexed by TileKind.
constexpr TileTraits kTraits[] = {
    // walkable, transparent
    {true, true},    // Floor
    {false, false},  // Wall
    {false, true},   // Water
    {true, true},    // ShallowWater
};
static_assert(std::size(kTraits) == ShallowWater + 1, "one traits row per tile kind");

constexpr int kBloodGlyph = 15;
constexpr int kPebblesGlyph = 34;
constexpr int kSmoothGlyph = 46;
constexpr int kWallGlyph = 35;
constexpr int kWaterGlyph = 247;

struct GroundText {
  int glyph;
  const char* text;
};

constexpr GroundText kGroundTexts[] = {
    // glyph, description
    {kBloodGlyph, "blood-smeared floor"},
    {kPebblesGlyph, "scattered pebbles"},
    {kSmoothGlyph, "smooth stone floor"},
    {kWaterGlyph, "shallow pool of water"},
};

const TCODColor kFloorFore{200, 200, 200};
const TCODColor kWaterFore{55, 55, 155};

std::uint8_t capped(int channel) {
  return static_cast<std::uint8_t>(std::min(channel, 255));
}

}  // namespace

const TileTraits* traitsOf(TileKind kind) {
  if (kind < 0 || static_cast<std::size_t>(kind) >= std::size(kTraits)) return nullptr;
  return &kTraits[static_cast<std::size_t>(kind)];
}

const char* describeGlyph(int glyph) {
  for (const GroundText& ground : kGroundTexts) {
    if (ground.glyph == glyph) return ground.text;
  }
  return nullptr;
}

void Tile::setKind(TileKind newKind) {
  kind = newKind;
  switch (kind) {
    case Floor: {
      if (std::rand() % 30 == 0) {
        glyph = kBloodGlyph;
        fore = TCODColor::darkRed;
      } else {
        glyph = std::rand() % 5 == 0 ? kPebblesGlyph : kSmoothGlyph;
        fore = kFloorFore;
      }
      const int a = std::rand();
      const int b = std::rand();
      const int c = std::rand();
      const TCODColor& black = TCODColor::black;
      back =
          TCODColor(capped(black.r + c % 10), capped(black.g + b % 10), capped(black.b + a % 10));
      break;
    }
    case Wall: {
      glyph = kWallGlyph;
      const int a = std::rand();
      const int b = std::rand();
      const int c = std::rand();
      back = TCODColor(static_cast<std::uint8_t>(180 + c % 20),
                       static_cast<std::uint8_t>(180 + b % 20),
                       static_cast<std::uint8_t>(200 + a % 50));
      fore = TCODColor::black;
      break;
    }
    case Water:
      glyph = kWaterGlyph;
      back = TCODColor(std::uint8_t{55}, std::uint8_t{55},
                       static_cast<std::uint8_t>(220 + std::rand() % 30));
      fore = kWaterFore;
      break;
    case ShallowWater:
      glyph = kWaterGlyph;
      back = TCODColor(std::uint8_t{175}, std::uint8_t{175},
                       static_cast<std::uint8_t>(200 + std::rand() % 50));
      fore = kWaterFore;
      break;
    default:
      break;  // an unknown kind keeps the old looks and draws nothing
  }
}

void Tile::add(Entity* entity) {
  entities.push_back(entity);
}

bool Tile::remove(std::uint32_t id) {
  const auto found = std::find_if(entities.begin(), entities.end(),
                                  [id](const Entity* entity) { return entity->id == id; });
  if (found == entities.end()) return false;
  entities.erase(found);
  return true;
}

Entity* Tile::blockingEntity() const {
  for (Entity* entity : entities) {
    if (entity->blocks) return entity;
  }
  return nullptr;
}

Entity* Tile::topEntity() const {
  if (Entity* blocker = blockingEntity()) return blocker;
  return entities.empty() ? nullptr : entities.front();
}

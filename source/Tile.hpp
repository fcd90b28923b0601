#pragma once

#include <libtcod.hpp>

#include <cstdint>
#include <list>

class Entity;

// Terrain kinds; walkable are Floor and ShallowWater, transparent all but Wall.
enum TileKind : std::int8_t {
  Floor = 0,
  Wall = 1,
  Water = 2,
  ShallowWater = 3,
};

// What a terrain kind lets through.
struct TileTraits {
  bool walkable;
  bool transparent;
};

// The traits of `kind`, or none (nullptr) for a value outside the four kinds.
const TileTraits* traitsOf(TileKind kind);

// What the ground line says about a cell, chosen by its terrain glyph; nullptr when there is
// nothing to say (walls).
const char* describeGlyph(int glyph);

// One cell of the level: its terrain, whether the player has seen it, and the entities on it.
class Tile {
 public:
  Tile() = default;
  virtual ~Tile() = default;

  // Stores `kind` and rolls its glyph and colours with rand(): a floor draws 5 numbers
  // (4 for a blood floor), a wall 3, either water 1. A value outside the four kinds only
  // changes `kind` and draws nothing.
  void setKind(TileKind kind);
  // Appends `entity` at the end of the list (the newest arrival is last).
  void add(Entity* entity);
  // Removes the front-most entity with `id`; false (and no change) when none has it.
  bool remove(std::uint32_t id);
  // The first entity in list order that blocks, or nullptr.
  Entity* blockingEntity() const;
  // What the level shows on this cell: the blocking entity, else the oldest arrival, else nullptr.
  Entity* topEntity() const;

  TileKind kind = Floor;
  int glyph = 0;
  bool explored = false;
  TCODColor fore{0, 0, 0};
  TCODColor back{0, 0, 0};
  std::list<Entity*> entities;  // refers, never owns
};

#pragma once

#include <libtcod.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "Tile.hpp"

class Entity;
class Map;

// The Game's registered entities by id, visited in ascending id order.
using EntityRegistry = std::map<std::uint32_t, Entity*>;

// Enters `entity` into `registry` under a free id (drawing fresh ids from the counter while its
// id is taken) and appends it to the list of the tile under it.
void registerInto(EntityRegistry& registry, Map& map, Entity* entity);

// Removes `entity`'s entry from `registry` if that entry is this entity; returns whether it was.
bool unregisterFrom(EntityRegistry& registry, const Entity* entity);

// The level: a fixed grid of tiles plus libtcod's map of what can be seen through and walked on.
class Map {
 public:
  // A grid of `width` x `height` blank floor tiles; `registry` receives entities made in play.
  Map(EntityRegistry* registry, int width, int height);
  // Destroys the tiles, not the entities on them (the Game destroys those first).
  ~Map();
  Map(const Map&) = delete;
  Map& operator=(const Map&) = delete;

  // Carves the partitioned cave with its openings, walled borders and three pools.
  void generate();
  // One recursive step of the carving: fills `node`, carves its children, opens the split line.
  void carveNode(TCODBsp* node);

  // True for Floor and ShallowWater. (x, y) must lie inside the grid.
  bool isWalkable(int x, int y) const;
  // The first blocking entity on (x, y) in arrival order, or nullptr; items never block.
  Entity* entityAt(int x, int y) const;
  // Field of view from (x, y) with `radius`, walls at its edge lit.
  void computeFov(int x, int y, int radius);
  // Whether (x, y) was in view at the last computation.
  bool isInFov(int x, int y) const;
  // Sets the terrain of (x, y) (rolling its looks) and its see-through/walk flags; outside the
  // grid it prints "WHAT? x y" and changes nothing.
  void setTile(int x, int y, TileKind kind);
  // Registers an entity created during play (a corpse) exactly as the Game registers its own.
  void addEntity(Entity* entity);
  // Straight-line distance between two cells.
  float distance(int x1, int y1, int x2, int y2) const;
  // Paints the level into the root console and collects the entities drawn in view.
  void draw();

  Tile& tileAt(int x, int y) {
    return tiles[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
  }
  const Tile& tileAt(int x, int y) const {
    return tiles[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
  }
  bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }

  std::unique_ptr<TCODMap> fovMap;
  std::unique_ptr<TCODBsp> bsp;          // the partition of the last generation
  EntityRegistry* registry;              // the owning Game's registry
  std::vector<Entity*> visibleEntities;  // drawn in view during the last draw; not owned
  int width;
  int height;
  std::vector<std::vector<Tile>> tiles;  // tiles[y][x]

 private:
  void openSplitLine(const TCODBsp& node);
  void splashPool();

  // The level's part of the root console while Map::draw works on it; made at the first draw.
  std::unique_ptr<TCODConsole> canvas;
};

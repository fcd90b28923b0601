#include "Map.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Entity.hpp"

namespace {

constexpr int kSplitDepth = 7;
constexpr int kMinChamberSize = 4;
constexpr float kMaxWidthToHeight = 2.5f;
constexpr float kMaxHeightToWidth = 1.9f;
constexpr int kPoolCount = 3;
// Remembered cells keep a quarter of their colours, each channel rounded down.
constexpr int kRememberedDivisor = 4;

// A frame reads and writes every cell of the level, which through one checked library call per
// colour costs several times the drawing itself. So Map::draw copies the level's part of the
// root console into `canvas` with one blit, works on the copied cells in place and blits them
// back. The writes leave a cell as libtcod's own calls would: putCharEx, setChar,
// setCharForeground and setCharBackground with TCOD_BKGND_SET replace the colour channels, make
// the foreground opaque and keep the background's alpha. (The blits copy cells exactly because
// every cell of the root console is opaque: nothing in the game writes a translucent one.)
TCOD_ConsoleTile* screenCell(TCOD_Console& console, int x, int y) {
  if (x >= console.w || y >= console.h) return nullptr;  // off the screen
  return &console.tiles[y * console.w + x];
}

void paintFore(TCOD_ConsoleTile& cell, const TCODColor& colour) {
  cell.fg = TCOD_ColorRGBA{colour.r, colour.g, colour.b, 255};
}

void paintBack(TCOD_ConsoleTile& cell, const TCODColor& colour) {
  cell.bg.r = colour.r;
  cell.bg.g = colour.g;
  cell.bg.b = colour.b;
}

void paint(TCOD_ConsoleTile& cell, int glyph, const TCODColor& fore, const TCODColor& back) {
  cell.ch = glyph;
  paintFore(cell, fore);
  paintBack(cell, back);
}

std::uint8_t dimmed(std::uint8_t channel) {
  return static_cast<std::uint8_t>(channel / kRememberedDivisor);
}

// Quarters the colours the cell holds now; its character stays.
void dim(TCOD_ConsoleTile& cell) {
  paintBack(cell, TCODColor(dimmed(cell.bg.r), dimmed(cell.bg.g), dimmed(cell.bg.b)));
  paintFore(cell, TCODColor(dimmed(cell.fg.r), dimmed(cell.fg.g), dimmed(cell.fg.b)));
}

}  // namespace

void registerInto(EntityRegistry& registry, Map& map, Entity* entity) {
  while (registry.count(entity->id) != 0)
    entity->id = nextEntityId++;
  registry.emplace(entity->id, entity);
  map.tileAt(entity->x, entity->y).add(entity);
}

bool unregisterFrom(EntityRegistry& registry, const Entity* entity) {
  const auto found = registry.find(entity->id);
  if (found == registry.end() || found->second != entity) return false;
  registry.erase(found);
  return true;
}

// The parameters carry the names of the fields they set.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
Map::Map(EntityRegistry* registry, int width, int height)
    : fovMap(std::make_unique<TCODMap>(width, height)),
      registry(registry),
      width(width),
      height(height),
      tiles(static_cast<std::size_t>(height), std::vector<Tile>(static_cast<std::size_t>(width))) {}
#pragma GCC diagnostic pop

Map::~Map() = default;

void Map::generate() {
  bsp = std::make_unique<TCODBsp>(0, 0, width, height);
  bsp->splitRecursive(nullptr, kSplitDepth, kMinChamberSize, kMinChamberSize, kMaxWidthToHeight,
                      kMaxHeightToWidth);
  carveNode(bsp.get());
  for (int y = 0; y < height; ++y)
    setTile(width - 1, y, Wall);
  for (int x = 0; x < width; ++x)
    setTile(x, height - 1, Wall);
  for (int pool = 0; pool < kPoolCount; ++pool)
    splashPool();
}

void Map::carveNode(TCODBsp* node) {
  for (int x = node->x; x < node->x + node->w; ++x) {
    for (int y = node->y; y < node->y + node->h; ++y) {
      setTile(x, y, (x == node->x || y == node->y) ? Wall : Floor);
    }
  }
  if (node->isLeaf()) return;
  carveNode(node->getRight());
  carveNode(node->getLeft());
  openSplitLine(*node);
}

// Punches one opening through the wall line between the two halves of `node`; where the chosen
// row or column runs along a wall, the opening keeps going until it meets a cell that is no wall.
void Map::openSplitLine(const TCODBsp& node) {
  const int p = node.position;
  if (!node.horizontal) {
    assert(node.h > 2);
    const int row = node.y + 1 + std::rand() % (node.h - 2);
    for (int x = p; x < width && tileAt(x, row).kind == Wall; ++x)
      setTile(x, row, Floor);
    for (int x = p - 1; x > 0 && tileAt(x, row).kind == Wall; --x)
      setTile(x, row, Floor);
  } else {
    assert(node.w > 2);
    const int column = node.x + 1 + std::rand() % (node.w - 2);
    for (int y = p; y < height && tileAt(column, y).kind == Wall; ++y)
      setTile(column, y, Floor);
    for (int y = p - 1; y > 0 && tileAt(column, y).kind == Wall; --y)
      setTile(column, y, Floor);
  }
}

// A roughly round pool: every cell draws its own radius of 2 to 4, and cells strictly closer
// than it to the centre turn to water (walls deep, floors shallow).
void Map::splashPool() {
  const int cx = std::rand() % width;
  const int cy = std::rand() % height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int r = std::rand() % 3 + 2;
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) >= r * r) continue;
      const TileKind kind = tileAt(x, y).kind;
      if (kind == Wall) {
        setTile(x, y, Water);
      } else if (kind == Floor) {
        setTile(x, y, ShallowWater);
      }
    }
  }
}

bool Map::isWalkable(int x, int y) const {
  const TileTraits* traits = traitsOf(tileAt(x, y).kind);
  return traits != nullptr && traits->walkable;
}

Entity* Map::entityAt(int x, int y) const {
  return tileAt(x, y).blockingEntity();
}

void Map::computeFov(int x, int y, int radius) {
  fovMap->computeFov(x, y, radius, true, FOV_BASIC);
}

bool Map::isInFov(int x, int y) const {
  return fovMap->isInFov(x, y);
}

void Map::setTile(int x, int y, TileKind kind) {
  if (!contains(x, y)) {
    std::printf("WHAT? %d %d\n", x, y);
    return;
  }
  tileAt(x, y).setKind(kind);
  if (const TileTraits* traits = traitsOf(kind)) {
    fovMap->setProperties(x, y, traits->transparent, traits->walkable);
  }
}

void Map::addEntity(Entity* entity) {
  registerInto(*registry, *this, entity);
}

float Map::distance(int x1, int y1, int x2, int y2) const {
  const double dx = x1 - x2;
  const double dy = y1 - y2;
  return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

void Map::draw() {
  TCODConsole& root = *TCODConsole::root;
  const int shownWidth = std::min(width, root.getWidth());
  const int shownHeight = std::min(height, root.getHeight());
  if (canvas == nullptr) canvas = std::make_unique<TCODConsole>(shownWidth, shownHeight);
  TCODConsole::blit(&root, 0, 0, shownWidth, shownHeight, canvas.get(), 0, 0);
  TCOD_Console& screen = *canvas->get_data();

  visibleEntities.clear();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Tile& tile = tileAt(x, y);
      const bool inView = fovMap->isInFov(x, y);
      if (inView) tile.explored = true;
      TCOD_ConsoleTile* cell = screenCell(screen, x, y);
      if (!tile.explored) {
        if (cell != nullptr) dim(*cell);  // never seen: whatever the console holds keeps fading
        continue;
      }
      if (inView && !tile.entities.empty()) {
        Entity* top = tile.topEntity();
        if (cell != nullptr) {
          paint(*cell, static_cast<unsigned char>(top->glyph), tile.fore, tile.back);
        }
        visibleEntities.push_back(top);
        continue;
      }
      if (cell == nullptr) continue;
      paint(*cell, tile.glyph, tile.fore, tile.back);
      if (!inView) dim(*cell);  // remembered terrain; entities on it are not shown
    }
  }
  TCODConsole::blit(canvas.get(), 0, 0, shownWidth, shownHeight, &root, 0, 0);
}

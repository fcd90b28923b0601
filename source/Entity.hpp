#pragma once

#include <array>
#include <cstdint>

class MessageLog;
class Map;

// The eight steps an entity can take; y grows downwards, row 0 is the top of the screen.
enum Direction : int {
  West = 0,
  East = 1,
  North = 2,
  South = 3,
  NorthWest = 4,
  NorthEast = 5,
  SouthWest = 6,
  SouthEast = 7,
};

// One step on the level: how far it goes east (dx) and south (dy).
struct Step {
  int dx;
  int dy;
};

// dx, dy by Direction.
inline constexpr std::array<Step, 8> kSteps = {{
    {-1, 0},   // West
    {+1, 0},   // East
    {0, -1},   // North
    {0, +1},   // South
    {-1, -1},  // NorthWest
    {+1, -1},  // NorthEast
    {-1, +1},  // SouthWest
    {+1, +1},  // SouthEast
}};
static_assert(kSteps.size() == SouthEast + 1, "one step per direction");

// Process-wide id counter: 0 at start-up, never reset, so ids keep growing across games.
extern std::uint32_t nextEntityId;

// Everything that stands on a tile: creatures, the player and items.
class Entity {
 public:
  // Takes the next id; the entity is in no tile list until its owner registers it.
  Entity(MessageLog* messageLog, Map* map, int x, int y, bool blocks);
  Entity(const Entity&) = delete;
  Entity& operator=(const Entity&) = delete;
  // Leaves the tile it stands on, if it is on the map.
  virtual ~Entity();

  // Called once by the turn loop on an entity found dead, before it is removed.
  virtual void die();
  // Called once per turn on every registered entity.
  virtual void takeTurn();
  // Called on a mover whose step is blocked by `other`.
  virtual void interact(Entity* other);

  // Leaves the tile list and goes to the off-map position (-1, -1); stays registered.
  void takeOffMap();
  // Unconditional relocation to (x, y): leaves the old tile list, joins the end of the new one.
  void moveTo(int x, int y);
  // A step onto the adjacent cell (x, y): false when it is not walkable; a blocking entity there
  // is bumped (`interact`) and the mover stays; otherwise the mover goes there. True = turn used.
  bool moveInto(int x, int y);
  // A step in `direction` (0..7); an invalid direction prints a diagnostic and returns false.
  bool move(int direction);
  // True while the entity stands on a cell of the level rather than being carried.
  bool isOnMap() const { return x >= 0 && y >= 0; }

  MessageLog* messageLog;  // not owned
  Map* map;                // not owned
  std::uint32_t id;
  int x;
  int y;
  signed char glyph = 1;
  bool playerSide = false;
  bool blocks;
  bool dead = false;
};

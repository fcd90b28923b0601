#include "Entity.hpp"

#include <cstdio>

#include "Map.hpp"

std::uint32_t nextEntityId = 0;

// The parameters carry the names of the fields they set.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
Entity::Entity(MessageLog* messageLog, Map* map, int x, int y, bool blocks)
    : messageLog(messageLog), map(map), id(nextEntityId++), x(x), y(y), blocks(blocks) {}
#pragma GCC diagnostic pop

Entity::~Entity() {
  if (map != nullptr && isOnMap()) map->tileAt(x, y).remove(id);
}

void Entity::die() {}

void Entity::takeTurn() {}

void Entity::interact(Entity* /*other*/) {}

void Entity::takeOffMap() {
  if (isOnMap()) map->tileAt(x, y).remove(id);
  x = -1;
  y = -1;
}

void Entity::moveTo(int newX, int newY) {
  if (isOnMap()) map->tileAt(x, y).remove(id);
  x = newX;
  y = newY;
  map->tileAt(x, y).add(this);
}

bool Entity::moveInto(int targetX, int targetY) {
  if (!map->isWalkable(targetX, targetY)) return false;
  if (Entity* other = map->entityAt(targetX, targetY)) {
    interact(other);
    return true;
  }
  moveTo(targetX, targetY);
  return true;
}

bool Entity::move(int direction) {
  if (static_cast<unsigned>(direction) >= kSteps.size()) {
    std::printf("Entity::move(...) - Invalid direction specified!\n");
    return false;
  }
  const Step step = kSteps[static_cast<unsigned>(direction)];
  return moveInto(x + step.dx, y + step.dy);
}

#include "MessageLog.hpp"

#include <libtcod.hpp>

namespace {

constexpr int kBoxX = 0;
constexpr int kBoxTop = 44;
constexpr int kBoxWidth = 40;
constexpr int kBoxHeight = 6;
constexpr int kWrapHeight = 5;
constexpr int kBottomRow = 49;  // stays empty: the newest message ends on the row above

}  // namespace

void MessageLog::add(const std::string& text) {
  const int height =
      TCODConsole::root->getHeightRect(kBoxX, kBoxTop, kBoxWidth, kWrapHeight, "%s", text.c_str());
  if (log.size() >= kCapacity) log.pop_back();
  log.push_front(Entry{text, height});
}

void MessageLog::draw() const {
  TCODConsole& root = *TCODConsole::root;
  root.rect(kBoxX, kBoxTop, kBoxWidth, kBoxHeight, true, TCOD_BKGND_SET);
  int used = 0;
  for (const Entry& entry : log) {
    used += entry.height;
    root.printRectEx(kBoxX, kBottomRow - used, kBoxWidth, kWrapHeight, TCOD_BKGND_NONE, TCOD_LEFT,
                     "%s", entry.text.c_str());
    if (used > kWrapHeight) break;
  }
}

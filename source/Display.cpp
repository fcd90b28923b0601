#include "Display.hpp"

#include <libtcod.hpp>

namespace {
bool presenting = true;
}  // namespace

namespace display {

void flush() {
  if (presenting) TCODConsole::flush();
}

void setPresenting(bool on) { presenting = on; }

}  // namespace display

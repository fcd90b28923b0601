#include "Display.hpp"

#include <libtcod.hpp>

#include <utility>

namespace {
bool presenting = true;
std::function<void()> presenter;
}  // namespace

namespace display {

void flush() {
  if (!presenting) return;
  TCODConsole::flush();
  if (presenter) presenter();
}

void setPresenting(bool on) { presenting = on; }

void setPresenter(std::function<void()> observer) { presenter = std::move(observer); }

}  // namespace display

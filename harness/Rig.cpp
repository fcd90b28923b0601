#include "Rig.hpp"

#include "Headless.hpp"
#include "Keyboard.hpp"

#include <array>
#include <cstdlib>
#include <ostream>
#include <stdexcept>

namespace harness {

bool operator==(const Cell& a, const Cell& b) {
  return a.ch == b.ch && a.fore == b.fore && a.back == b.back;
}

void PrintTo(const Cell& cell, std::ostream* out) {
  *out << "{ch " << cell.ch;
  if (cell.ch > 32 && cell.ch < 127) *out << " '" << static_cast<char>(cell.ch) << "'";
  *out << ", fore (" << int{cell.fore.r} << "," << int{cell.fore.g} << "," << int{cell.fore.b}
       << "), back (" << int{cell.back.r} << "," << int{cell.back.g} << "," << int{cell.back.b}
       << ")}";
}

Cell cellAt(int x, int y) {
  TCODConsole* root = TCODConsole::root;
  return Cell{root->getChar(x, y), root->getCharForeground(x, y), root->getCharBackground(x, y)};
}

std::string rowText(int y, int x0, int x1) {
  std::string text;
  for (int x = x0; x <= x1; ++x) {
    const int ch = TCODConsole::root->getChar(x, y);
    text += (ch >= 0 && ch < 256) ? static_cast<char>(ch) : '?';
  }
  return text;
}

std::string screenText() {
  std::string text;
  const int width = TCODConsole::root->getWidth();
  for (int y = 0; y < TCODConsole::root->getHeight(); ++y)
    text += rowText(y, 0, width - 1) + '\n';
  return text;
}

void clearRoot() {
  TCODConsole::root->setDefaultForeground(TCODColor::white);
  TCODConsole::root->setDefaultBackground(TCODColor::black);
  TCODConsole::root->clear();
}

// ---------------------------------------------------------------------------------------------
// Keys

KeyScript::KeyScript(std::string_view script) {
  then(script);
  keyboard::setKeySource([this] { return next(); });
}

KeyScript::KeyScript(std::initializer_list<TCOD_key_t> list) : keys(list) {
  keyboard::setKeySource([this] { return next(); });
}

KeyScript::~KeyScript() {
  keyboard::setKeySource(nullptr);
}

KeyScript& KeyScript::then(std::string_view script) {
  for (const TCOD_key_t& k : parseKeyScript(script))
    keys.push_back(k);
  return *this;
}

KeyScript& KeyScript::then(TCOD_key_t k) {
  keys.push_back(k);
  return *this;
}

TCOD_key_t KeyScript::next() {
  if (!keys.empty()) {
    const TCOD_key_t k = keys.front();
    keys.pop_front();
    return k;
  }
  if (!exhausted) {
    // Out of keys: the player closes the window.
    exhausted = true;
    keyboard::closeWindow();
  }
  return plainKey(TCODK_NONE);
}

// ---------------------------------------------------------------------------------------------
// Randomness

std::size_t countRandDraws(const std::function<void()>& action, unsigned seed, std::size_t limit) {
  std::srand(seed);
  action();
  // The two numbers that follow the action mark where it stopped; two in a row cannot turn up
  // earlier in the sequence by chance.
  const int first = std::rand();
  const int second = std::rand();

  std::srand(seed);
  int previous = std::rand();
  for (std::size_t draws = 0; draws <= limit; ++draws) {
    const int current = std::rand();
    if (previous == first && current == second) {
      std::srand(seed);
      for (std::size_t i = 0; i < draws; ++i)
        std::rand();
      return draws;
    }
    previous = current;
  }
  throw std::runtime_error("countRandDraws: the action drew more than " + std::to_string(limit) +
                           " numbers, or reseeded rand()");
}

}  // namespace harness

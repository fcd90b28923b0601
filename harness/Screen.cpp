#include "Screen.hpp"

#include <cstdio>
#include <ostream>

#include "Cp437.hpp"

namespace harness {
namespace {

std::string hexColour(const TCODColor& colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", colour.r, colour.g, colour.b);
  return text;
}

}  // namespace

std::string screenUtf8() {
  const TCODConsole& root = *TCODConsole::root;
  std::string out;
  for (int y = 0; y < root.getHeight(); ++y) {
    for (int x = 0; x < root.getWidth(); ++x) {
      const int code = root.getChar(x, y);
      cp437::appendUtf8(out, cp437::unicode(code));
    }
    out += '\n';
  }
  return out;
}

std::string screenColours() {
  const TCODConsole& root = *TCODConsole::root;
  std::string out;
  for (int y = 0; y < root.getHeight(); ++y) {
    std::string line;
    std::string previous;
    int run = 0;
    const auto flush = [&] {
      if (run == 0) return;
      if (!line.empty()) line += ' ';
      if (run > 1) line += std::to_string(run) + "*";
      line += previous;
    };
    for (int x = 0; x < root.getWidth(); ++x) {
      const std::string cell =
          hexColour(root.getCharForeground(x, y)) + "/" + hexColour(root.getCharBackground(x, y));
      if (cell == previous) {
        ++run;
        continue;
      }
      flush();
      previous = cell;
      run = 1;
    }
    flush();
    out += line + '\n';
  }
  return out;
}

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

}  // namespace harness

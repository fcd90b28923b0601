#pragma once

// Reading the screen back: the root console cell by cell, as text, as UTF-8 and as colours.
//
// The test main (TestMain.cpp) loads the font sheet and opens the 80x50 root console once,
// under SDL's dummy video driver, before any test runs.

#include <libtcod.hpp>

#include <iosfwd>
#include <string>

namespace harness {

// The root console as 50 lines of 80 characters, each ending in '\n', with the code page 437
// glyphs turned into the Unicode characters they picture (205 is U+2550, 247 U+2248, 1 U+263A,
// 7 U+2022, 15 U+263C, code 0 a space), encoded as UTF-8.
std::string screenUtf8();

// The colours of the root console: one line per row, each cell "FFFFFF/BBBBBB" (foreground /
// background, hex RGB), cells separated by spaces and runs of equal cells written "N*" before
// the cell ("70*000000/000000").
std::string screenColours();

// One cell of the root console: its character code and its two colours.
struct Cell {
  int ch;
  TCODColor fore;
  TCODColor back;
};
bool operator==(const Cell& a, const Cell& b);
void PrintTo(const Cell& cell, std::ostream* out);  // readable gtest failure messages

// The root console's cell at column x, row y.
Cell cellAt(int x, int y);

// The characters of row y from column x0 through column x1, both included, one byte per cell
// (a glyph code above 255 shows as '?').
std::string rowText(int y, int x0, int x1);

// The whole root console as text, one line per row: handy in failure messages.
std::string screenText();

// Clears the root console to blanks, white on black, as a fresh window shows it.
void clearRoot();

}  // namespace harness

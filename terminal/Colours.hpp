#pragma once

// The game's 24-bit colours as the colours a terminal can show.

#include <cstdint>

namespace terminal {

// How many colours the terminal offers, from its terminfo entry.
enum class Depth : std::uint8_t {
  None,     // no colours at all: glyphs only
  Eight,    // the eight ANSI colours
  Palette,  // the 256-colour palette
  Direct,   // 24-bit colour (terminfo RGB, as xterm-direct or tmux-direct describe)
};

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
};

// The depth described by a terminfo entry with `colours` colours (ncurses' COLORS), where
// `rgb` says whether the entry has the RGB flag (colour numbers are then packed 0xRRGGBB).
Depth depthFor(int colours, bool rgb);

// The ncurses colour number that shows `colour` at `depth`:
//   Direct: the packed value 0xRRGGBB, except that 1..7 (a blue of at most 7 with no red or
//     green), which such terminals take for ANSI colours, is sent as 0: black;
//   Palette: the nearest of the 6 x 6 x 6 colour cube (16..231) and the grey ramp (232..255);
//     the first 16 are left out because every terminal paints them its own way;
//   Eight: the nearest of the eight ANSI colours as xterm paints them;
//   None: 0.
// Nearest is by squared distance in RGB; ties go to the lower number.
int colourNumber(Depth depth, Rgb colour);

// The colour an ncurses colour number shows at `depth` (Direct: unpacked; Palette and Eight:
// the palette's own colour), for checking what a terminal was sent.
Rgb colourOf(Depth depth, int number);

// `colour` faded towards `towards` as libtcod's renderer does for TCODConsole::setFade:
// fade 255 leaves it, 0 gives `towards`.
Rgb faded(Rgb colour, Rgb towards, int fade);

}  // namespace terminal

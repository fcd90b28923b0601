#pragma once

// The root console as the web page shows it, and the messages that carry it there: a full
// frame, and the cells one flush changed.

#include <libtcod.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pipefront {

// One console cell as shown: its code page 437 glyph and its colours after the fade.
struct Cell {
  std::uint8_t glyph = 0;
  std::array<std::uint8_t, 3> fg{};
  std::array<std::uint8_t, 3> bg{};

  // Channel by channel: std::array's == is a library call for three bytes, and the frames
  // compare every cell of the screen at every flush.
  bool sameColours(const Cell& other) const {
    return fg[0] == other.fg[0] && fg[1] == other.fg[1] && fg[2] == other.fg[2] &&
           bg[0] == other.bg[0] && bg[1] == other.bg[1] && bg[2] == other.bg[2];
  }
  bool operator==(const Cell& other) const { return glyph == other.glyph && sameColours(other); }
  bool operator!=(const Cell& other) const { return !(*this == other); }
};

// The 80 x 50 cells in row-major order.
using Screen = std::vector<Cell>;

// The root console as the window shows it: glyph codes, and colours faded as TCODConsole's fade
// level (towards its fading colour) shows them.
Screen captureRoot();

// The 'F' message: every cell of `screen`.
std::string fullFrame(const Screen& screen);

// The 'D' message that turns `before` into `after`, or an empty string when they are equal.
// Unchanged cells between two changed ones of the same colours are sent along when that is
// shorter than starting a new run.
std::string changes(const Screen& before, const Screen& after);

// `screen` with the runs of a 'F' or 'D' message applied (a 'F' message may start from an
// empty screen). Returns nothing when the message is malformed.
std::optional<Screen> apply(Screen screen, std::string_view message);

// The game's key for a key message ('K' code mods), as the window reports the same key press:
// letters typed with Shift come upper case with shift set, '.' is the '.' key. Nothing for a
// message that is not a key.
std::optional<TCOD_key_t> keyOf(std::string_view message);

}  // namespace pipefront

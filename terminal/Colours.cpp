#include "Colours.hpp"

#include <array>

#include "Display.hpp"

namespace terminal {
namespace {

constexpr std::array<std::uint8_t, 6> kCubeLevels = {0, 95, 135, 175, 215, 255};

// The eight ANSI colours with xterm's default values.
constexpr std::array<Rgb, 8> kAnsi = {{
    {0, 0, 0},
    {205, 0, 0},
    {0, 205, 0},
    {205, 205, 0},
    {0, 0, 238},
    {205, 0, 205},
    {0, 205, 205},
    {229, 229, 229},
}};

int distance(Rgb a, Rgb b) {
  const int dr = a.r - b.r;
  const int dg = a.g - b.g;
  const int db = a.b - b.b;
  return dr * dr + dg * dg + db * db;
}

Rgb paletteColour(int number) {
  if (number >= 232 && number <= 255) {
    const auto grey = static_cast<std::uint8_t>(8 + 10 * (number - 232));
    return {grey, grey, grey};
  }
  if (number >= 16 && number <= 231) {
    const int cube = number - 16;
    return {kCubeLevels[static_cast<std::size_t>(cube / 36)],
            kCubeLevels[static_cast<std::size_t>(cube / 6 % 6)],
            kCubeLevels[static_cast<std::size_t>(cube % 6)]};
  }
  return kAnsi[static_cast<std::size_t>(number & 7)];
}

int nearestOf(Rgb colour, int first, int last) {
  int best = first;
  int bestDistance = distance(colour, paletteColour(first));
  for (int number = first + 1; number <= last; ++number) {
    const int d = distance(colour, paletteColour(number));
    if (d < bestDistance) {
      best = number;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace

Depth depthFor(int colours, bool rgb) {
  if (rgb && colours >= 0x1000000) return Depth::Direct;
  if (colours >= 256) return Depth::Palette;
  if (colours >= 8) return Depth::Eight;
  return Depth::None;
}

int colourNumber(Depth depth, Rgb colour) {
  switch (depth) {
    case Depth::Direct: {
      const int packed = colour.r << 16 | colour.g << 8 | colour.b;
      return packed < 8 ? 0 : packed;
    }
    case Depth::Palette:
      return nearestOf(colour, 16, 255);
    case Depth::Eight: {
      int best = 0;
      for (int number = 1; number < 8; ++number) {
        if (distance(colour, kAnsi[static_cast<std::size_t>(number)]) <
            distance(colour, kAnsi[static_cast<std::size_t>(best)])) {
          best = number;
        }
      }
      return best;
    }
    case Depth::None:
      break;
  }
  return 0;
}

Rgb colourOf(Depth depth, int number) {
  switch (depth) {
    case Depth::Direct:
      if (number < 8) return kAnsi[static_cast<std::size_t>(number & 7)];
      return {static_cast<std::uint8_t>(number >> 16 & 0xFF),
              static_cast<std::uint8_t>(number >> 8 & 0xFF),
              static_cast<std::uint8_t>(number & 0xFF)};
    case Depth::Palette:
    case Depth::Eight:
      return paletteColour(number);
    case Depth::None:
      break;
  }
  return {};
}

Rgb faded(Rgb colour, Rgb towards, int fade) {
  const TCODColor mixed =
      display::faded({colour.r, colour.g, colour.b}, {towards.r, towards.g, towards.b}, fade);
  return {mixed.r, mixed.g, mixed.b};
}

}  // namespace terminal

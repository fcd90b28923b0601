#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <optional>

#include "Colours.hpp"
#include "Keys.hpp"
#include "Terminal.hpp"

// After libtcod, whose console has methods that curses defines as macros.
#include <curses.h>

namespace terminal {
namespace {

// ---- Colours ---------------------------------------------------------------------------------

struct ColourCase {
  Rgb colour;
  int direct;
  int palette;
  int eight;
};

// Colours the game draws, and the numbers each depth sends for them.
const ColourCase kColourCases[] = {
    // colour, direct, 256-colour palette, eight ANSI colours
    {{0, 0, 0}, 0, 16, 0},                // the cave's black
    {{0, 0, 5}, 0, 16, 0},                // nearly black: 5 would be ANSI magenta
    {{0, 0, 8}, 8, 16, 0},                // the first blue that is sent as it is
    {{255, 0, 0}, 0xFF0000, 196, 1},      // TCODColor::red, "angry"
    {{191, 0, 0}, 0xBF0000, 124, 1},      // TCODColor::darkRed, the health bar
    {{63, 63, 63}, 0x3F3F3F, 237, 0},     // the remembered cave (tie 58/68: the lower)
    {{200, 200, 200}, 0xC8C8C8, 251, 7},  // the player, a grey of the ramp
    {{255, 255, 255}, 0xFFFFFF, 231, 7},  // text
    {{255, 127, 0}, 0xFF7F00, 208, 3},    // TCODColor::orange
    {{0, 255, 0}, 0x00FF00, 46, 2},       // TCODColor::green
    {{180, 183, 206}, 0xB4B7CE, 146, 7},  // a lit wall
};

TEST(TerminalColours, EachDepthSendsTheNearestColourItHas) {
  for (const ColourCase& c : kColourCases) {
    SCOPED_TRACE(testing::Message()
                 << int{c.colour.r} << "," << int{c.colour.g} << "," << int{c.colour.b});
    EXPECT_EQ(colourNumber(Depth::Direct, c.colour), c.direct);
    EXPECT_EQ(colourNumber(Depth::Palette, c.colour), c.palette);
    EXPECT_EQ(colourNumber(Depth::Eight, c.colour), c.eight);
    EXPECT_EQ(colourNumber(Depth::None, c.colour), 0);
  }
}

TEST(TerminalColours, NoPaletteColourIsNearerThanTheOneChosen) {
  const auto distance = [](Rgb a, Rgb b) {
    return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
  };
  for (int r = 0; r < 256; r += 17) {
    for (int g = 3; g < 256; g += 23) {
      for (int b = 5; b < 256; b += 29) {
        const Rgb colour{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                         static_cast<std::uint8_t>(b)};
        const int chosen =
            distance(colour, colourOf(Depth::Palette, colourNumber(Depth::Palette, colour)));
        for (int number = 16; number < 256; ++number) {
          ASSERT_LE(chosen, distance(colour, colourOf(Depth::Palette, number)))
              << r << "," << g << "," << b << " is nearer to " << number;
        }
        const Rgb direct = colourOf(Depth::Direct, colourNumber(Depth::Direct, colour));
        EXPECT_LE(distance(colour, direct), 49);  // exact, or black for the blues below 8
      }
    }
  }
}

TEST(TerminalColours, DepthComesFromTheTerminfoEntry) {
  EXPECT_EQ(depthFor(0x1000000, true), Depth::Direct);
  EXPECT_EQ(depthFor(0x1000000, false), Depth::Palette);
  EXPECT_EQ(depthFor(256, false), Depth::Palette);
  EXPECT_EQ(depthFor(88, false), Depth::Eight);
  EXPECT_EQ(depthFor(8, false), Depth::Eight);
  EXPECT_EQ(depthFor(0, false), Depth::None);
  EXPECT_EQ(depthFor(-1, false), Depth::None);
}

TEST(TerminalColours, TheFadeGoesFromTheColourToTheFadeColour) {
  const Rgb wall{180, 183, 206};
  const Rgb black{};
  EXPECT_EQ(colourNumber(Depth::Direct, faded(wall, black, 255)), 0xB4B7CE);
  EXPECT_EQ(colourNumber(Depth::Direct, faded(wall, black, 0)), 0);
  EXPECT_EQ(colourNumber(Depth::Direct, faded(wall, black, 128)), 0x5A5B67);
  EXPECT_EQ(colourNumber(Depth::Direct, faded(black, Rgb{255, 255, 255}, 51)), 0xCCCCCC);
}

// ---- Keys ------------------------------------------------------------------------------------

struct KeyCase {
  const char* what;
  TerminalKey in;
  TCOD_keycode_t vk;
  char c;
  bool shift;
  bool ctrl;
  bool alt;
};

// What the terminal sends, and the key the window reports for the same press.
const KeyCase kKeyCases[] = {
    // what, terminal key, vk, c, shift, ctrl, alt
    {"h", {'h', false, false}, TCODK_CHAR, 'h', false, false, false},
    {"Shift+h", {'H', false, false}, TCODK_CHAR, 'H', true, false, false},
    {".", {'.', false, false}, TCODK_CHAR, '.', false, false, false},
    {"Shift+.", {'>', false, false}, TCODK_CHAR, '>', true, false, false},
    {"<", {'<', false, false}, TCODK_CHAR, '<', true, false, false},
    {"1", {'1', false, false}, TCODK_1, '1', false, false, false},
    {"Shift+1", {'!', false, false}, TCODK_CHAR, '!', true, false, false},
    {"space", {' ', false, false}, TCODK_SPACE, ' ', false, false, false},
    {"Escape", {27, false, false}, TCODK_ESCAPE, 27, false, false, false},
    {"Enter (CR)", {'\r', false, false}, TCODK_ENTER, 13, false, false, false},
    {"Enter (LF)", {'\n', false, false}, TCODK_ENTER, 13, false, false, false},
    {"Tab", {'\t', false, false}, TCODK_TAB, 9, false, false, false},
    {"Backspace (DEL)", {127, false, false}, TCODK_BACKSPACE, 8, false, false, false},
    {"Backspace (key)", {KEY_BACKSPACE, true, false}, TCODK_BACKSPACE, 8, false, false, false},
    {"Ctrl+a", {1, false, false}, TCODK_CHAR, 'a', false, true, false},
    {"Alt+j", {'j', false, true}, TCODK_CHAR, 'j', false, false, true},
    {"Up", {KEY_UP, true, false}, TCODK_UP, 0, false, false, false},
    {"Down", {KEY_DOWN, true, false}, TCODK_DOWN, 0, false, false, false},
    {"Left", {KEY_LEFT, true, false}, TCODK_LEFT, 0, false, false, false},
    {"Right", {KEY_RIGHT, true, false}, TCODK_RIGHT, 0, false, false, false},
    {"Home", {KEY_HOME, true, false}, TCODK_HOME, 0, false, false, false},
    {"keypad 7", {KEY_A1, true, false}, TCODK_HOME, 0, false, false, false},
    {"keypad 5", {KEY_B2, true, false}, TCODK_KP5, 0, false, false, false},
    {"keypad Enter", {KEY_ENTER, true, false}, TCODK_KPENTER, 13, false, false, false},
    {"Delete", {KEY_DC, true, false}, TCODK_DELETE, 127, false, false, false},
    {"F1", {static_cast<std::uint32_t>(KEY_F(1)), true, false}, TCODK_F1, 0, false, false, false},
    {"F12",
     {static_cast<std::uint32_t>(KEY_F(12)), true, false},
     TCODK_F12,
     0,
     false,
     false,
     false},
};

TEST(TerminalKeys, EachKeyIsTheKeyTheWindowReports) {
  for (const KeyCase& c : kKeyCases) {
    SCOPED_TRACE(c.what);
    const std::optional<TCOD_key_t> key = gameKey(c.in);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->vk, c.vk);
    EXPECT_EQ(key->c, c.c);
    EXPECT_TRUE(key->pressed);
    EXPECT_EQ(key->shift, c.shift);
    EXPECT_EQ(key->lctrl, c.ctrl);
    EXPECT_EQ(key->lalt, c.alt);
    EXPECT_FALSE(key->rctrl || key->ralt || key->lmeta || key->rmeta);
    EXPECT_EQ(key->text[0], '\0');
  }
}

TEST(TerminalKeys, WhatIsNoKeyPressGivesNothing) {
  for (const TerminalKey& in :
       {TerminalKey{KEY_RESIZE, true, false}, TerminalKey{KEY_MOUSE, true, false},
        TerminalKey{static_cast<std::uint32_t>(KEY_F(13)), true, false},
        TerminalKey{0xE9, false, false}, TerminalKey{0, false, false}}) {
    EXPECT_FALSE(gameKey(in).has_value()) << in.code;
  }
}

// ---- Glyphs ----------------------------------------------------------------------------------

TEST(TerminalGlyphs, EveryGlyphTakesOneColumnInUtf8AndIsPrintableAsciiOtherwise) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(wcwidth(cellGlyph(code, true)), 1) << code;
    const wchar_t ascii = cellGlyph(code, false);
    EXPECT_TRUE(ascii >= 32 && ascii < 127) << code;
  }
  EXPECT_EQ(cellGlyph(205, true), L'\u2550');
  EXPECT_EQ(cellGlyph(247, true), L'\u2248');
  EXPECT_EQ(cellGlyph(0, true), L' ');
  EXPECT_EQ(cellGlyph(205, false), L'=');
  EXPECT_EQ(cellGlyph(186, false), L'|');
  EXPECT_EQ(cellGlyph(206, false), L'+');
  EXPECT_EQ(cellGlyph(247, false), L'~');
  EXPECT_EQ(cellGlyph(15, false), L'*');
  EXPECT_EQ(cellGlyph('@', false), L'@');
  std::setlocale(LC_CTYPE, "C");
  EXPECT_EQ(cellGlyph(205, true), L'=');  // no UTF-8 in the C locale: the look-alike
}

}  // namespace
}  // namespace terminal

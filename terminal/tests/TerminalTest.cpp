#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

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
    {"h", {'h', false}, TCODK_CHAR, 'h', false, false, false},
    {"Shift+h", {'H', false}, TCODK_CHAR, 'H', true, false, false},
    {".", {'.', false}, TCODK_CHAR, '.', false, false, false},
    {"Shift+.", {'>', false}, TCODK_CHAR, '>', true, false, false},
    {"<", {'<', false}, TCODK_CHAR, '<', true, false, false},
    {"1", {'1', false}, TCODK_1, '1', false, false, false},
    {"Shift+1", {'!', false}, TCODK_CHAR, '!', true, false, false},
    {"space", {' ', false}, TCODK_SPACE, ' ', false, false, false},
    {"Escape", {27, false}, TCODK_ESCAPE, 27, false, false, false},
    {"Enter (CR)", {'\r', false}, TCODK_ENTER, 13, false, false, false},
    {"Enter (LF)", {'\n', false}, TCODK_ENTER, 13, false, false, false},
    {"Tab", {'\t', false}, TCODK_TAB, 9, false, false, false},
    {"Backspace (DEL)", {127, false}, TCODK_BACKSPACE, 8, false, false, false},
    {"Backspace (key)", {KEY_BACKSPACE, true}, TCODK_BACKSPACE, 8, false, false, false},
    {"Ctrl+a", {1, false}, TCODK_CHAR, 'a', false, true, false},
    {"Up", {KEY_UP, true}, TCODK_UP, 0, false, false, false},
    {"Down", {KEY_DOWN, true}, TCODK_DOWN, 0, false, false, false},
    {"Left", {KEY_LEFT, true}, TCODK_LEFT, 0, false, false, false},
    {"Right", {KEY_RIGHT, true}, TCODK_RIGHT, 0, false, false, false},
    {"Home", {KEY_HOME, true}, TCODK_HOME, 0, false, false, false},
    {"keypad 7", {KEY_A1, true}, TCODK_KP7, 0, false, false, false},
    {"keypad 5", {KEY_B2, true}, TCODK_KP5, 0, false, false, false},
    {"keypad Enter", {KEY_ENTER, true}, TCODK_KPENTER, 13, false, false, false},
    {"Delete", {KEY_DC, true}, TCODK_DELETE, 127, false, false, false},
    {"F1", {static_cast<std::uint32_t>(KEY_F(1)), true}, TCODK_F1, 0, false, false, false},
    {"F12", {static_cast<std::uint32_t>(KEY_F(12)), true}, TCODK_F12, 0, false, false, false},
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
  for (const TerminalKey& in : {TerminalKey{KEY_RESIZE, true}, TerminalKey{KEY_MOUSE, true},
                                TerminalKey{static_cast<std::uint32_t>(KEY_F(13)), true},
                                TerminalKey{0xE9, false}, TerminalKey{0, false}}) {
    EXPECT_FALSE(gameKey(in).has_value()) << in.code;
  }
}

// Characters as ncurses hands them over, one TerminalKey each.
std::vector<TerminalKey> typed(const std::string& bytes) {
  std::vector<TerminalKey> input;
  for (char c : bytes)
    input.push_back({static_cast<std::uint8_t>(c), false});
  return input;
}

struct BurstCase {
  const char* what;
  std::string bytes;
  std::vector<TCOD_keycode_t> vks;  // TCODK_CHAR for a character, given in `chars`
  std::string chars;
};

// Whatever arrives in one read, and the keys the game gets, in order.
const BurstCase kBurstCases[] = {
    // what, bytes, the game's keys, their characters
    {"Escape then l", "\x1bl", {TCODK_ESCAPE, TCODK_CHAR}, "\x1bl"},
    {"Escape then space", "\x1b ", {TCODK_ESCAPE, TCODK_SPACE}, "\x1b "},
    {"Escape twice", "\x1b\x1b", {TCODK_ESCAPE, TCODK_ESCAPE}, "\x1b\x1b"},
    {"Escape at the end", "l\x1b", {TCODK_CHAR, TCODK_ESCAPE}, "l\x1b"},
    {"Escape O at the end", "\x1bO", {TCODK_ESCAPE, TCODK_CHAR}, "\x1bO"},
    {"Escape O Escape", "\x1bO\x1b", {TCODK_ESCAPE, TCODK_CHAR, TCODK_ESCAPE}, "\x1bO\x1b"},
    {"keypad 7, 9, 5 (SS3)", "\x1bOw\x1bOy\x1bOu", {TCODK_KP7, TCODK_KP9, TCODK_KP5}, ""},
    {"keypad 0, 8, ., Enter",
     "\x1bOp\x1bOx\x1bOn\x1bOM",
     {TCODK_KP0, TCODK_KP8, TCODK_KPDEC, TCODK_KPENTER},
     std::string(3, '\0') + "\r"},
    {"keypad + - * /",
     "\x1bOk\x1bOm\x1bOj\x1bOo",
     {TCODK_KPADD, TCODK_KPSUB, TCODK_KPMUL, TCODK_KPDIV},
     ""},
    {"keypad = and , are no keys", "\x1bOX\x1bOlh", {TCODK_CHAR}, "h"},
    {"arrows (SS3 and CSI)", "\x1bOA\x1b[D", {TCODK_UP, TCODK_LEFT}, ""},
    {"Home, End (CSI)",
     "\x1b[H\x1b[1~\x1b[4~\x1b[F",
     {TCODK_HOME, TCODK_HOME, TCODK_END, TCODK_END},
     ""},
    {"keypad 5 without Num Lock", "\x1b[E", {TCODK_KP5}, ""},
    {"Page Down, F5, F12", "\x1b[6~\x1b[15~\x1b[24~", {TCODK_PAGEDOWN, TCODK_F5, TCODK_F12}, ""},
    {"Ctrl+Up (modifiers)", "\x1b[1;5A", {TCODK_UP}, ""},
    {"unknown CSI keys are none", "\x1b[99~\x1b[200~k", {TCODK_CHAR}, "k"},
    {"Escape [ unfinished", "\x1b[", {TCODK_ESCAPE, TCODK_CHAR}, "\x1b["},
};

TEST(TerminalKeys, EscapeSequencesAndBurstsGiveTheWindowsKeys) {
  for (const BurstCase& c : kBurstCases) {
    SCOPED_TRACE(c.what);
    const std::vector<TCOD_key_t> keys = gameKeys(typed(c.bytes));
    ASSERT_EQ(keys.size(), c.vks.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
      EXPECT_EQ(keys[i].vk, c.vks[i]) << i;
      const char want = i < c.chars.size() ? c.chars[i] : '\0';
      if (c.vks[i] != TCODK_ESCAPE) {
        EXPECT_EQ(keys[i].c, want) << i;
      }
      EXPECT_FALSE(keys[i].lalt) << i;
    }
  }
}

TEST(TerminalKeys, KeyCodesBetweenCharactersStayInOrder) {
  const std::vector<TCOD_key_t> keys =
      gameKeys({{27, false}, {KEY_UP, true}, {'j', false}, {KEY_RESIZE, true}});
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].vk, TCODK_ESCAPE);
  EXPECT_EQ(keys[1].vk, TCODK_UP);
  EXPECT_EQ(keys[2].c, 'j');
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

#include <gtest/gtest.h>

#include <string>

#include "Frames.hpp"
#include "Keyboard.hpp"
#include "Protocol.hpp"

namespace {

using pipefront::Cell;
using pipefront::Screen;

constexpr std::size_t kCells = protocol::kCols * protocol::kRows;

// A screen of spaces on black, with `glyph` in the cells of `cells` (all white on blue).
Screen screenWith(std::initializer_list<std::size_t> cells, std::uint8_t glyph = '@') {
  Screen screen(kCells, Cell{' ', {255, 255, 255}, {0, 0, 0}});
  for (std::size_t i : cells)
    screen[i] = Cell{glyph, {255, 255, 255}, {0, 0, 255}};
  return screen;
}

TEST(Frames, FullFrameAndChangesRebuildTheScreen) {
  const Screen cases[] = {
      screenWith({}),           screenWith({0}),
      screenWith({kCells - 1}), screenWith({5, 7, 300, 301, 302, 3999}),
      screenWith({10, 30}),  // too far apart to share a run
  };
  const Screen blank = screenWith({});
  for (const Screen& screen : cases) {
    EXPECT_EQ(pipefront::apply({}, pipefront::fullFrame(screen)), screen);
    const std::string diff = pipefront::changes(blank, screen);
    if (screen == blank) {
      EXPECT_TRUE(diff.empty());
    } else {
      EXPECT_EQ(pipefront::apply(blank, diff), screen);
    }
  }
}

TEST(Frames, AMovedGlyphCostsTwoSmallRunsAndCloseChangesShareOne) {
  const Screen before = screenWith({1000});
  // the glyph leaves a blue cell for a black one beside it: two runs of one cell
  EXPECT_EQ(pipefront::changes(before, screenWith({1001})).size(),
            1 + 2 * (protocol::kRunHeader + 1));
  // 1000 and 1004 are blue, the cells between them are not: two runs
  EXPECT_EQ(pipefront::changes(screenWith({}), screenWith({1000, 1004})).size(),
            1 + 2 * (protocol::kRunHeader + 1));
  // a changed glyph three cells after another of the same colours: one run over the gap
  Screen other = screenWith({1000, 1001, 1002, 1003});
  Screen changed = other;
  changed[1000].glyph = 'x';
  changed[1003].glyph = 'y';
  EXPECT_EQ(pipefront::changes(other, changed).size(), 1 + protocol::kRunHeader + 4);
}

TEST(Frames, RunsNeverExceedTheirLongestAndFullFramesSayTheirSize) {
  const std::string full = pipefront::fullFrame(screenWith({}));
  ASSERT_GE(full.size(), 3U);
  EXPECT_EQ(full[0], protocol::kFullFrame);
  EXPECT_EQ(full[1], protocol::kCols);
  EXPECT_EQ(full[2], protocol::kRows);
  // 4000 equal cells: 16 runs of at most 255
  EXPECT_EQ(full.size(), 3 + 16 * protocol::kRunHeader + kCells);
}

TEST(Frames, MalformedMessagesAreRefused) {
  const std::string cases[] = {
      "",
      "X",
      std::string("F\x50\x31", 3),                               // 49 rows
      std::string("D\x00\x00\x01", 4),                           // a short header
      std::string("D\x00\x00\x00\x01\x01\x01\x02\x02\x02", 10),  // count 0
      std::string("D\xA0\x0F\x02\x01\x01\x01\x02\x02\x02"
                  "ab",
                  12),  // past the last cell
      std::string("D\x00\x00\x03\x01\x01\x01\x02\x02\x02"
                  "ab",
                  12),  // fewer glyphs than said
  };
  for (const std::string& message : cases)
    EXPECT_FALSE(pipefront::apply(screenWith({}), message).has_value()) << message.size();
}

TEST(Frames, KeyMessagesGiveTheWindowsKeys) {
  struct Case {
    std::string message;
    TCOD_keycode_t vk;
    char c;
    bool shift;
  };
  const Case cases[] = {
      {"Kh\0", TCODK_CHAR, 'h', false},   {"KH\1", TCODK_CHAR, 'H', true},
      {"K.\0", TCODK_CHAR, '.', false},   {"K>\1", TCODK_CHAR, '>', true},
      {"K5\0", TCODK_5, '5', false},      {"K \0", TCODK_SPACE, ' ', false},
      {"K\1\0", TCODK_ESCAPE, 27, false}, {"K\2\0", TCODK_ENTER, 13, false},
      {"K\3\0", TCODK_UP, 0, false},      {"K\4\1", TCODK_DOWN, 0, true},
      {"K\5\0", TCODK_LEFT, 0, false},    {"K\6\0", TCODK_RIGHT, 0, false},
      {"K\7\0", TCODK_HOME, 0, false},
  };
  for (const Case& test : cases) {
    const std::string message(test.message.data(), 3);
    const auto key = pipefront::keyOf(message);
    ASSERT_TRUE(key.has_value()) << test.c;
    EXPECT_EQ(key->vk, test.vk) << test.c;
    EXPECT_EQ(key->c, test.c) << test.c;
    EXPECT_EQ(key->shift, test.shift) << test.c;
    EXPECT_TRUE(key->pressed);
  }
  EXPECT_EQ(pipefront::keyOf(std::string("KH\1", 3))->c, keyboard::shiftedKey('h').c);
  const std::string refused[] = {
      std::string("K\0\0", 3),  std::string("K\x7F\0", 3), std::string("K\x08\0", 3),
      std::string("Kh\2", 3),   std::string("Xh\0", 3),    "Kh",
      std::string("Kh\0\0", 4),
  };
  for (const std::string& message : refused)
    EXPECT_FALSE(pipefront::keyOf(message).has_value());
}

}  // namespace

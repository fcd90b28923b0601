// The font sheet loader and the sheet itself: the glyphs the game draws come out of the
// real sheet as libtcod tiles, double lines join across cells, and bad files are refused
// with one line on stderr.

#include "FontSheet.hpp"

#include <SDL.h>
#include <gtest/gtest.h>
#include <libtcod/globals.h>
#include <libtcod/tileset.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kSheetName = "Slate_curses_12x12.bmp";

// One tile of the installed tileset, as libtcod will draw it.
struct Tile {
  int width = 0;
  int height = 0;
  std::vector<TCOD_ColorRGBA> pixels;

  bool lit(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x].a > 127; }
  int litCount() const {
    return static_cast<int>(std::count_if(pixels.begin(), pixels.end(),
                                          [](const TCOD_ColorRGBA& p) { return p.a > 127; }));
  }
  std::set<int> litRowsInColumn(int x) const {
    std::set<int> rows;
    for (int y = 0; y < height; ++y) {
      if (lit(x, y)) rows.insert(y);
    }
    return rows;
  }
  std::set<int> litColumnsInRow(int y) const {
    std::set<int> columns;
    for (int x = 0; x < width; ++x) {
      if (lit(x, y)) columns.insert(x);
    }
    return columns;
  }
};

// The tile libtcod holds for `code` in the default tileset (empty if there is none).
Tile installedTile(int code) {
  Tile tile;
  TCOD_Tileset* tileset = TCOD_get_default_tileset();
  if (tileset == nullptr) return tile;
  tile.width = TCOD_tileset_get_tile_width_(tileset);
  tile.height = TCOD_tileset_get_tile_height_(tileset);
  tile.pixels.resize(static_cast<std::size_t>(tile.width) * tile.height);
  if (TCOD_tileset_get_tile_(tileset, code, tile.pixels.data()) < 0) tile = Tile{};
  TCOD_tileset_delete(tileset);  // drop the reference TCOD_get_default_tileset gave us
  return tile;
}

// The installed default tileset itself, for identity checks (reference released at once).
const TCOD_Tileset* installedTileset() {
  TCOD_Tileset* tileset = TCOD_get_default_tileset();
  if (tileset != nullptr) TCOD_tileset_delete(tileset);  // libtcod still holds one
  return tileset;
}

// Counts the separate runs in a set of consecutive indices (a double line has two).
int runs(const std::set<int>& indices) {
  int count = 0;
  int previous = -2;
  for (int index : indices) {
    if (index != previous + 1) ++count;
    previous = index;
  }
  return count;
}

// The edges ("L", "R", "T", "B") touched by each 4-connected piece of a tile's ink.
std::multiset<std::string> piecesByEdges(const Tile& tile) {
  std::vector<bool> seen(tile.pixels.size(), false);
  std::multiset<std::string> pieces;
  for (int start = 0; start < tile.width * tile.height; ++start) {
    if (seen[start] || !tile.lit(start % tile.width, start / tile.width)) continue;
    std::set<char> edges;
    std::vector<int> todo{start};
    seen[start] = true;
    while (!todo.empty()) {
      const int at = todo.back();
      todo.pop_back();
      const int x = at % tile.width;
      const int y = at / tile.width;
      if (x == 0) edges.insert('L');
      if (x == tile.width - 1) edges.insert('R');
      if (y == 0) edges.insert('T');
      if (y == tile.height - 1) edges.insert('B');
      const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
      for (const auto& n : next) {
        if (n[0] < 0 || n[1] < 0 || n[0] >= tile.width || n[1] >= tile.height) continue;
        const int index = n[1] * tile.width + n[0];
        if (!seen[index] && tile.lit(n[0], n[1])) {
          seen[index] = true;
          todo.push_back(index);
        }
      }
    }
    pieces.insert(std::string(edges.begin(), edges.end()));
  }
  return pieces;
}

// Loads `fileName` and returns what it printed on stderr.
std::string loadCapturingStderr(const std::string& fileName, bool& loaded) {
  testing::internal::CaptureStderr();
  loaded = fontsheet::load(fileName.c_str());
  return testing::internal::GetCapturedStderr();
}

// A failed load prints exactly one line naming the file.
void expectOneLineNaming(const std::string& output, const std::string& name) {
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
  EXPECT_FALSE(output.empty() || output.back() != '\n') << output;
  EXPECT_NE(output.find(name), std::string::npos) << output;
  EXPECT_EQ(output.rfind("vesperdeep: ", 0), 0u) << output;
}

// A scratch directory removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir()
      : path_(fs::temp_directory_path() /
              ("vesperdeep-fontsheet-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Writes a 24-bit BMP of the given size, black but for `paint` (x, y, grey) pixels.
struct GreyPixel {
  int x, y;
  std::uint8_t grey;
};
void writeBmp(const fs::path& file, int width, int height, const std::vector<GreyPixel>& paint) {
  SDL_Surface* surface =
      SDL_CreateRGBSurfaceWithFormat(0, width, height, 24, SDL_PIXELFORMAT_RGB24);
  ASSERT_NE(surface, nullptr) << SDL_GetError();
  SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
  for (const GreyPixel& p : paint) {
    SDL_Rect dot{p.x, p.y, 1, 1};
    SDL_FillRect(surface, &dot, SDL_MapRGB(surface->format, p.grey, p.grey, p.grey));
  }
  const int saved = SDL_SaveBMP(surface, file.string().c_str());
  SDL_FreeSurface(surface);
  ASSERT_EQ(saved, 0) << SDL_GetError();
}

class FontSheet : public ::testing::Test {
 protected:
  // Every test leaves the real sheet installed, as the rest of the suite expects.
  void TearDown() override {
    testing::internal::CaptureStderr();
    const bool restored = fontsheet::load(kSheetName);
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(restored) << output;
  }
};

TEST_F(FontSheet, InstallsAllGlyphsOfTheRealSheetAsTwelvePixelTiles) {
  bool loaded = false;
  const std::string output = loadCapturingStderr(kSheetName, loaded);
  ASSERT_TRUE(loaded) << output;
  EXPECT_EQ(output, "");

  for (int code = 0; code < 256; ++code) {
    const Tile tile = installedTile(code);
    ASSERT_EQ(tile.width, 12) << "glyph " << code;
    ASSERT_EQ(tile.height, 12) << "glyph " << code;
    // The colour comes from the console: every pixel is white, only coverage varies.
    for (const TCOD_ColorRGBA& pixel : tile.pixels) {
      ASSERT_TRUE(pixel.r == 255 && pixel.g == 255 && pixel.b == 255) << "glyph " << code;
    }
  }
}

TEST_F(FontSheet, GlyphsTheGameDrawsAreDistinctShapes) {
  ASSERT_TRUE(fontsheet::load(kSheetName));
  EXPECT_EQ(installedTile(' ').litCount(), 0);
  EXPECT_EQ(installedTile(0).litCount(), 0);

  // Smiley, small bullet, blood mark, water, and all printable ASCII for the messages.
  std::vector<int> codes{1, 7, 15, 247};
  for (int code = 33; code <= 126; ++code)
    codes.push_back(code);

  std::set<std::vector<bool>> shapes;
  for (int code : codes) {
    const Tile tile = installedTile(code);
    const int lit = tile.litCount();
    EXPECT_GT(lit, 0) << "glyph " << code << " is blank";
    EXPECT_LT(lit, 12 * 12) << "glyph " << code << " is a solid block";
    std::vector<bool> shape;
    for (const TCOD_ColorRGBA& pixel : tile.pixels)
      shape.push_back(pixel.a > 127);
    EXPECT_TRUE(shapes.insert(shape).second) << "glyph " << code << " looks like another glyph";
  }
  EXPECT_GT(installedTile('@').litCount(), installedTile('.').litCount());
}

TEST_F(FontSheet, DoubleLineFrameGlyphsJoinAtTheCellEdges) {
  ASSERT_TRUE(fontsheet::load(kSheetName));
  const Tile horizontal = installedTile(205);
  const Tile vertical = installedTile(186);
  const Tile cross = installedTile(206);
  ASSERT_EQ(horizontal.width, 12);

  // 205: two lines running unbroken from the left edge to the right edge.
  const std::set<int> lineRows = horizontal.litRowsInColumn(0);
  EXPECT_EQ(runs(lineRows), 2);
  EXPECT_EQ(horizontal.litRowsInColumn(11), lineRows);
  for (int y : lineRows)
    EXPECT_EQ(horizontal.litColumnsInRow(y).size(), 12u) << "row " << y;
  EXPECT_TRUE(horizontal.litColumnsInRow(0).empty());
  EXPECT_TRUE(horizontal.litColumnsInRow(11).empty());

  // 186: two lines running unbroken from the top edge to the bottom edge.
  const std::set<int> lineColumns = vertical.litColumnsInRow(0);
  EXPECT_EQ(runs(lineColumns), 2);
  EXPECT_EQ(vertical.litColumnsInRow(11), lineColumns);
  for (int x : lineColumns)
    EXPECT_EQ(vertical.litRowsInColumn(x).size(), 12u) << "column " << x;
  EXPECT_TRUE(vertical.litRowsInColumn(0).empty());
  EXPECT_TRUE(vertical.litRowsInColumn(11).empty());

  // 206 meets both on exactly their rows and columns, on all four edges.
  EXPECT_EQ(cross.litRowsInColumn(0), lineRows);
  EXPECT_EQ(cross.litRowsInColumn(11), lineRows);
  EXPECT_EQ(cross.litColumnsInRow(0), lineColumns);
  EXPECT_EQ(cross.litColumnsInRow(11), lineColumns);

  // Inside the cell each line turns into its neighbour: ═ and ║ are two strokes crossing the
  // cell, ╬ is four corners, each joining a horizontal line to a vertical one.
  EXPECT_EQ(piecesByEdges(horizontal), (std::multiset<std::string>{"LR", "LR"}));
  EXPECT_EQ(piecesByEdges(vertical), (std::multiset<std::string>{"BT", "BT"}));
  EXPECT_EQ(piecesByEdges(cross), (std::multiset<std::string>{"BL", "BR", "LT", "RT"}));
}

TEST_F(FontSheet, FindsTheSheetBesideTheExecutableFromAnotherDirectory) {
  char* base = SDL_GetBasePath();
  ASSERT_NE(base, nullptr) << SDL_GetError();
  const fs::path besideExe = fs::path(base) / kSheetName;
  SDL_free(base);
  if (!fs::exists(besideExe)) GTEST_SKIP() << "no font sheet beside the test executable";

  ScratchDir elsewhere;
  const fs::path previous = fs::current_path();
  fs::current_path(elsewhere.path());
  bool loaded = false;
  const std::string output = loadCapturingStderr(kSheetName, loaded);
  fs::current_path(previous);
  EXPECT_TRUE(loaded) << output;
  EXPECT_EQ(output, "");
  EXPECT_EQ(installedTile(205).width, 12);
}

TEST_F(FontSheet, CellSizeFollowsTheImageAndBrightnessBecomesCoverage) {
  ScratchDir dir;
  const fs::path file = dir.path() / "small.bmp";
  // 8 x 8 cells: glyph 'A' (row 4, column 1) gets a white and a mid-grey pixel.
  writeBmp(file, 128, 128, {{8 + 1, 32 + 2, 255}, {8 + 5, 32 + 6, 128}});
  ASSERT_TRUE(fontsheet::load(file.string().c_str()));

  const Tile a = installedTile('A');
  ASSERT_EQ(a.width, 8);
  ASSERT_EQ(a.height, 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const std::uint8_t alpha = a.pixels[static_cast<std::size_t>(y) * 8 + x].a;
      const int expected = (x == 1 && y == 2) ? 255 : (x == 5 && y == 6) ? 128 : 0;
      EXPECT_EQ(alpha, expected) << "pixel " << x << "," << y;
    }
  }
  EXPECT_EQ(installedTile('B').litCount(), 0);
}

TEST_F(FontSheet, MissingFileIsRefusedWithOneLineNamingIt) {
  const TCOD_Tileset* before = installedTileset();
  bool loaded = true;
  const std::string output = loadCapturingStderr("no-such-sheet.bmp", loaded);
  EXPECT_FALSE(loaded);
  expectOneLineNaming(output, "\"no-such-sheet.bmp\"");
  EXPECT_EQ(installedTileset(), before) << "a failed load must keep the installed glyphs";

  ScratchDir dir;
  const std::string absent = (dir.path() / "gone.bmp").string();
  const std::string absentOutput = loadCapturingStderr(absent, loaded);
  EXPECT_FALSE(loaded);
  expectOneLineNaming(absentOutput, absent);

  const std::string emptyOutput = loadCapturingStderr("", loaded);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(std::count(emptyOutput.begin(), emptyOutput.end(), '\n'), 1) << emptyOutput;
}

TEST_F(FontSheet, FilesThatAreNotASheetAreRefusedWithOneLineNamingThem) {
  ScratchDir dir;
  const fs::path text = dir.path() / "text.bmp";
  std::ofstream(text) << "this is not a bitmap\n";
  const fs::path empty = dir.path() / "empty.bmp";
  { std::ofstream create(empty); }
  const fs::path truncated = dir.path() / "truncated.bmp";
  {
    std::ifstream real(kSheetName, std::ios::binary);
    ASSERT_TRUE(real) << "run the tests where " << kSheetName << " lies";
    std::vector<char> bytes(std::istreambuf_iterator<char>(real), {});
    ASSERT_GT(bytes.size(), 4000u);
    std::ofstream(truncated, std::ios::binary).write(bytes.data(), 4000);
  }
  const fs::path oblong = dir.path() / "oblong.bmp";
  writeBmp(oblong, 192, 96, {});
  const fs::path uneven = dir.path() / "uneven.bmp";
  writeBmp(uneven, 200, 200, {});

  const TCOD_Tileset* before = installedTileset();
  for (const fs::path& file : {text, empty, truncated, oblong, uneven}) {
    bool loaded = true;
    const std::string output = loadCapturingStderr(file.string(), loaded);
    EXPECT_FALSE(loaded) << file;
    expectOneLineNaming(output, file.string());
    EXPECT_EQ(installedTileset(), before) << file;
  }
  bool loaded = true;
  EXPECT_NE(loadCapturingStderr(empty.string(), loaded).find("(an empty file)"), std::string::npos);
}

TEST_F(FontSheet, TheLineBeginsWithTheProgramsName) {
  fontsheet::setProgramName("vesperdeep-term");
  bool loaded = true;
  const std::string output = loadCapturingStderr("no-such-sheet.bmp", loaded);
  fontsheet::setProgramName("vesperdeep");
  EXPECT_EQ(output.rfind("vesperdeep-term: cannot load font sheet ", 0), 0u) << output;
}

}  // namespace

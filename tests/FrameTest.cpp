// One frame as the player sees it: what each presented flush of the fade shows, the order in
// which the interface paints its regions, and the exact box the ground line owns.

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <memory>
#include <string>
#include <vector>

#include "Display.hpp"
#include "Game.hpp"
#include "NPC.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"

namespace {

const std::string kBlankScreen = [] {
  std::string rows;
  for (int y = 0; y < 50; ++y)
    rows += std::string(80, ' ') + '\n';
  return rows;
}();

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { harness::clearRoot(); }
  void TearDown() override {
    display::setPresenter(nullptr);
    TCODConsole::setFade(255, TCODColor::black);
    TCODConsole::root->clear();
  }

  // What one presented flush showed.
  struct Shown {
    int fade;
    std::string screen;
  };
  // Draws one frame of `game` and returns every flush it presented, in order.
  static std::vector<Shown> presentedWhileDrawing(Game& game) {
    std::vector<Shown> shown;
    display::setPresenter([&shown] {
      shown.push_back({TCODConsole::getFade(), harness::screenText()});
    });
    game.draw();
    display::setPresenter(nullptr);
    return shown;
  }
};

TEST_F(FrameTest, TheFadeDimsTheLastFrameStepByStepThenShowsTheClearedScreenOnce) {
  auto game = harness::gameFromDrawing({"#####", "#.@.#", "#####"});
  game->draw();  // the last frame before the note was closed
  const std::string lastFrame = harness::screenText();
  ASSERT_NE(lastFrame, kBlankScreen);

  game->mode = FadeOut;
  const std::vector<Shown> shown = presentedWhileDrawing(*game);
  ASSERT_EQ(shown.size(), 257u) << "256 fading steps and the cleared end screen";
  for (int step = 0; step < 256; ++step) {
    EXPECT_EQ(shown[step].fade, 255 - step) << "step " << step;
    EXPECT_EQ(shown[step].screen, lastFrame) << "step " << step;
  }
  EXPECT_EQ(shown[256].fade, 255);
  EXPECT_EQ(shown[256].screen, kBlankScreen) << "the two lines wait for the shell's flush";
  EXPECT_EQ(game->mode, EndScreen);

  // Every later frame of the end screen presents the cleared screen once, at full brightness.
  for (int frame = 0; frame < 2; ++frame) {
    TCODConsole::setFade(40, TCODColor::black);
    const std::vector<Shown> again = presentedWhileDrawing(*game);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].fade, 255);
    EXPECT_EQ(again[0].screen, kBlankScreen);
  }
}

TEST_F(FrameTest, AFrameFlushesByItselfOnlyOnceAWindowIsCopiedOntoIt) {
  auto game = harness::gameFromDrawing({"#####", "#.@.#", "#####"});
  const struct {
    GameMode mode;
    const char* title;  // at the window's top border, (24, 5) on the screen
  } cases[] = {{Normal, nullptr}, {Inventory, "INVENTORY"}, {Drop, "DROP ITEMS"}, {Note, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    game->mode = c.mode;
    const std::vector<Shown> shown = presentedWhileDrawing(*game);
    ASSERT_EQ(shown.size(), c.mode == Normal ? 0u : 1u);
    if (c.mode == Normal) continue;
    EXPECT_EQ(shown[0].screen, harness::screenText()) << "the window is on the flushed screen";
    EXPECT_EQ(harness::cellAt(20, 5).ch, 206);
    if (c.title != nullptr) {
      EXPECT_EQ(harness::rowText(5, 24, 23 + static_cast<int>(std::string(c.title).size())),
                c.title);
    }
  }
}

TEST_F(FrameTest, TheGroundBoxWipesCreatureEntriesThatReachItsRows) {
  // Twenty angry bats in view take two rows each from row 8: the list runs down to row 47.
  auto game = harness::gameFromDrawing({
      "###########",  //
      "#.........#",  //
      "#.bbbbbbb.#",  //
      "#.bbb@bbb.#",  //
      "#.bbbbbbb.#",  //
      "#.........#",  //
      "###########",  //
  });
  for (NPC* bat : harness::creaturesOf(*game))
    bat->angry = true;
  game->draw();
  ASSERT_EQ(harness::creaturesOf(*game).size(), 20u);
  ASSERT_EQ(harness::rowText(42, 71, 73), "bat") << harness::screenText();
  ASSERT_EQ(harness::rowText(43, 72, 76), "angry");
  for (int y = 44; y <= 48; ++y) {
    EXPECT_EQ(harness::rowText(y, 64, 79), std::string(16, ' ')) << "row " << y;
    EXPECT_EQ(harness::cellAt(70, y).back, TCODColor::black) << "health swatch on row " << y;
  }
}

TEST_F(FrameTest, EveryCreatureAtFullHealthHasAGreenSwatchTheOneHitPointKittenToo) {
  auto game = harness::gameFromDrawing({"#######", "#.@kb.#", "#######"});
  game->draw();
  ASSERT_EQ(harness::rowText(8, 71, 76), "kitten");
  ASSERT_EQ(harness::rowText(9, 71, 73), "bat");
  EXPECT_EQ(harness::cellAt(70, 8).back, TCODColor::green);
  EXPECT_EQ(harness::cellAt(70, 9).back, TCODColor::green);
}

TEST_F(FrameTest, TheGroundBoxClearsColumns42To79OfRows44To48AndNothingAround) {
  auto game = harness::gameFromDrawing({"#####", "#.@.#", "#####"});
  game->map->tileAt(2, 1).glyph = '#';  // a floor look the ground line has no words for
  game->draw();
  const struct {
    int x, y;
    bool cleared;
  } cells[] = {
      {42, 44, true},  {79, 44, true},  {42, 48, true},  {79, 48, true},  {60, 46, true},
      {41, 44, false}, {41, 48, false}, {42, 49, false}, {69, 49, false}, {79, 49, false},
  };
  for (const auto& c : cells)
    TCODConsole::root->putChar(c.x, c.y, 'Z');
  game->draw();
  for (const auto& c : cells)
    EXPECT_EQ(harness::cellAt(c.x, c.y).ch, c.cleared ? ' ' : 'Z') << c.x << "," << c.y;
}

}  // namespace

// The message box under the level: what it keeps, how it measures, and how it draws upward.

#include "MessageLog.hpp"

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <string>

#include "Screen.hpp"

namespace {

const char* const kWakeUp =
    "You wake up grogilly in a dark cave, alone. Your head is pounding and you can taste blood. "
    "\nYou are hungry.";

class MessageLogTest : public ::testing::Test {
 protected:
  // Every cell of the bottom of the screen holds a marker, so that we see what the log touched.
  void SetUp() override {
    TCODConsole& root = *TCODConsole::root;
    root.setDefaultForeground(TCODColor::white);
    root.setDefaultBackground(kBoxBack);
    for (int y = 30; y < 50; ++y) {
      for (int x = 0; x < 80; ++x)
        root.putCharEx(x, y, '+', TCODColor::yellow, TCODColor::red);
    }
  }
  void TearDown() override {
    TCODConsole::root->setDefaultBackground(TCODColor::black);
    TCODConsole::root->clear();
  }

  static int measured(const std::string& text) {
    return TCODConsole::root->getHeightRect(0, 44, 40, 5, "%s", text.c_str());
  }
  static std::string row(int y) { return harness::rowText(y, 0, 39); }
  // What row y shows when `text` is printed on it: the box is cleared, above it the markers stay.
  static std::string printed(int y, const std::string& text) {
    return text + std::string(40 - text.size(), y >= 44 ? ' ' : '+');
  }
  static std::string markers() { return std::string(40, '+'); }

  const TCODColor kBoxBack{10, 20, 30};
  MessageLog log;
};

TEST_F(MessageLogTest, KeepsTheTwentyNewestEntriesNewestFirst) {
  for (int i = 1; i <= 25; ++i)
    log.add("message " + std::to_string(i));
  ASSERT_EQ(log.entries().size(), 20u);
  for (std::size_t i = 0; i < 20; ++i) {
    EXPECT_EQ(log.entries()[i].text, "message " + std::to_string(25 - i));
  }
}

TEST_F(MessageLogTest, HeightsAreLibtcodsMeasureInAFortyByFiveBox) {
  const std::string texts[] = {
      "You hit the bat for 2 damage.",
      kWakeUp,
      "one\ntwo\nthree\nfour\nfive",
      std::string(200, 'x'),
      "A sentence that is just a little bit too long to fit on one single line of the box.",
  };
  for (const std::string& text : texts) {
    log.add(text);
    EXPECT_EQ(log.entries().front().height, measured(text)) << text;
  }
  EXPECT_EQ(log.entries()[4].height, 1);
  EXPECT_EQ(log.entries()[2].height, 5);
  EXPECT_GE(log.entries()[3].height, 3);  // the wake-up text wraps and has its own break
  EXPECT_EQ(log.entries()[0].height, 3);
}

TEST_F(MessageLogTest, SixOneLineMessagesFillRowsFortyEightUpToFortyThree) {
  for (int i = 1; i <= 25; ++i)
    log.add("message " + std::to_string(i));
  log.draw();
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(row(48 - i), printed(48 - i, "message " + std::to_string(25 - i)));
  }
  EXPECT_EQ(row(49), std::string(40, ' '));
  EXPECT_EQ(harness::cellAt(5, 49).back, kBoxBack);
  EXPECT_EQ(row(42), markers());  // the seventh newest is not drawn
  EXPECT_EQ(harness::rowText(46, 40, 79),
            std::string(40, '+'));  // the ground line's side is not touched
  EXPECT_EQ(harness::cellAt(2, 48).fore, TCODColor::white);  // the default colours
}

TEST_F(MessageLogTest, AMultiLineMessageKeepsItsLinesInOrderEndingOnRowFortyEight) {
  log.add("Older.");
  log.add(kWakeUp);
  const int height = measured(kWakeUp);
  log.draw();
  const int top = 49 - height;
  EXPECT_EQ(row(top).substr(0, 20), "You wake up grogilly");
  EXPECT_EQ(row(48), printed(48, "You are hungry."));
  EXPECT_EQ(row(top - 1), printed(top - 1, "Older."));
  EXPECT_EQ(row(49), std::string(40, ' '));
}

TEST_F(MessageLogTest, AFiveLineNewestMessagePushesTheNextAboveTheBoxAndDrawingStops) {
  log.add("the oldest");
  log.add("the older");
  log.add("one\ntwo\nthree\nfour\nfive");
  log.draw();
  EXPECT_EQ(row(44), printed(44, "one"));
  EXPECT_EQ(row(48), printed(48, "five"));
  EXPECT_EQ(row(43), printed(43, "the older"));
  EXPECT_EQ(row(42), markers());
  EXPECT_EQ(row(49), std::string(40, ' '));
}

TEST_F(MessageLogTest, AnEmptyLogDrawsOnlyTheClearedBox) {
  log.draw();
  for (int y = 44; y < 50; ++y) {
    EXPECT_EQ(row(y), std::string(40, ' ')) << "row " << y;
    EXPECT_EQ(harness::cellAt(0, y).back, kBoxBack);
    EXPECT_EQ(harness::cellAt(39, y).back, kBoxBack);
    EXPECT_EQ(harness::rowText(y, 40, 79), std::string(40, '+')) << "row " << y;
  }
  EXPECT_EQ(row(43), markers());
}

TEST_F(MessageLogTest, APercentSignIsPrintedAsItStands) {
  const std::string text = "100% sure: %d %s %% %c";
  log.add(text);
  EXPECT_EQ(log.entries().front().height, 1);
  log.draw();
  EXPECT_EQ(row(48), printed(48, text));
}

}  // namespace

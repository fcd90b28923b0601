// The entry point of every test program (the library vesperdeep_testmain): opens the game's 80x50
// root console once, headless under SDL's dummy video driver (set by CTest), then runs the tests.
// Listing the tests opens nothing, so test discovery needs no display.

#include "FontSheet.hpp"

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <exception>
#include <iostream>
#include <string>

namespace {

// A closed window stays closed for the rest of the process (libtcod offers no way back), so a
// test that closes it would quietly change every test after it. Such tests belong in a child
// process (EXPECT_EXIT); this catches the ones that are not.
class ClosedWindowGuard : public ::testing::EmptyTestEventListener {
 public:
  void OnTestEnd(const ::testing::TestInfo&) override {
    if (reported || !TCODConsole::isWindowClosed()) return;
    reported = true;
    ADD_FAILURE() << "this test left the window closed, which the tests after it would see; "
                     "close the window only inside EXPECT_EXIT";
  }

 private:
  bool reported = false;
};

bool openConsole(const std::string& program) {
  if (!fontsheet::load("Slate_curses_12x12.bmp")) {
    std::cerr << program
              << ": cannot run without the font sheet; run the tests from the "
                 "build's bin directory\n";
    return false;
  }
  try {
    TCODConsole::initRoot(80, 50, "Vesperdeep", false);
  } catch (const std::exception& error) {
    std::cerr << program << ": cannot open the console: " << error.what() << '\n';
    return false;
  }
  if (TCODConsole::root == nullptr || TCODConsole::root->getWidth() != 80 ||
      TCODConsole::root->getHeight() != 50) {
    std::cerr << program << ": the console did not open at 80x50\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

  const std::string path = argc > 0 ? argv[0] : "tests";
  if (!openConsole(path.substr(path.find_last_of('/') + 1))) return 1;
  ::testing::UnitTest::GetInstance()->listeners().Append(new ClosedWindowGuard);
  const int result = RUN_ALL_TESTS();
  TCOD_quit();  // closes the window and frees the renderer, so memory checkers see no leak
  return result;
}

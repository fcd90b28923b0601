#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "Game.hpp"

// Which screen the shell's loop serves.
enum AppState : std::int32_t {
  Title = 0,
  Playing = 1,
};

// The program's outermost loop: the title screen and at most one running Game.
class App {
 public:
  static constexpr const char* kFontFile = "Slate_curses_12x12.bmp";

  // Whether anyone sees the game's own window. A front end that shows every frame itself (a
  // terminal, a web page) opens it Unseen under SDL's dummy driver, only to have the root
  // console: its cells are then blank and one pixel square, so that the window's buffers take
  // a few kilobytes instead of megabytes, and it gets no icon.
  enum class Window { Shown, Unseen };

  // Seeds rand() once with 0, loads the font sheet, opens the 80 x 50 window and registers the
  // five colour control codes. Without a usable font sheet or a display no window is opened
  // and `started` stays false (one line naming the cause has been printed).
  explicit App(Window window = Window::Shown);
  ~App() = default;
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Alternates between the title screen and a game until Escape on the title screen or the
  // window is closed; a game still running then is destroyed.
  void run();
  // The title screen.
  void drawTitle();
  // Waits for a key on the title screen: Escape ends the program, any other key starts a game.
  void handleTitleKey();
  // Opens the 80 x 50 window. When no display can show it or SDL or libtcod cannot make it,
  // prints one line naming the cause and returns false.
  bool openWindow(Window window = Window::Shown);

  AppState state = Title;
  std::unique_ptr<Game> game;
  bool running = true;
  bool started = false;  // the window is open with the game's own font
};

// The command line of a front end whose one option is --partition N (vesperdeep-term,
// vesperdeep-pipe). Returns true with `partition` set when N was given; prints `usage` and
// returns false with `status` 0 for --help or -h; prints one line naming `program` and returns
// false with `status` 64 for anything else.
bool parsePartitionOption(const char* program, const char* usage, int argc, char** argv,
                          std::optional<std::uint32_t>& partition, int& status);

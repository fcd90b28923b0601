#pragma once

// The game in a terminal: every presented frame of the root console drawn with ncurses, and
// the keys read from the terminal. libtcod keeps the console (under SDL's dummy video driver);
// this shows it and feeds the game's key wait.

#include <libtcod.hpp>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "Colours.hpp"
#include "Display.hpp"

class App;

namespace terminal {

constexpr int kWidth = 80;
constexpr int kHeight = 50;
constexpr const char* kTooSmall = "Make the terminal at least 80 x 50";
// Keys typed ahead of the game (a paste) are kept up to this many; the terminal beeps for
// every burst of keys dropped beyond it.
constexpr std::size_t kKeyQueueLimit = 65536;

// Presenting is paced as display::FramePacer paces it (at least display::kFrameGap between
// frames, the fade shown in a few steps, the last frame always shown).
using display::kFadeStride;
using display::kFrameGap;

// The glyph a terminal cell shows for code page 437 glyph `code`: its Unicode character when
// `unicode` (a UTF-8 locale) and that character is one column wide (wcwidth), otherwise an
// ASCII look-alike.
wchar_t cellGlyph(int code, bool unicode);

// One terminal session on standard input and output. Only one may exist at a time (it owns
// the process's signal handlers while it is open).
class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Starts ncurses and takes over SIGHUP, SIGINT, SIGTERM and the crash signals. When the
  // terminal cannot be used, prints one line naming the cause and returns false.
  bool open();
  // Gives the terminal back as it was (cursor, colours, echo, keypad); also done by the
  // destructor.
  void close();

  // After every presented flush of the root console.
  void flushed();
  // The game's key source: the next key press, or TCODK_NONE (the window closed) after a
  // hang-up, the end of input, SIGINT or SIGTERM.
  TCOD_key_t nextKey();

  // How many frames have been sent to the terminal, and how many flushes were held back.
  long long framesSent() const { return sent; }
  long long framesHeld() const { return held; }
  Depth depth() const { return colourDepth; }

 private:
  void present();
  void draw();
  void resized();
  void readKeys();
  bool waitForInput();

  bool isOpen = false;
  bool unicode = false;
  bool tooSmall = false;
  bool pending = false;
  bool ended = false;
  Depth colourDepth = Depth::None;
  std::array<wchar_t, 256> glyphs{};
  std::deque<TCOD_key_t> keys;
  display::FramePacer pacer;
  long long sent = 0;
  long long held = 0;
  int idleWakeups = 0;
};

// The whole program: the App under SDL's dummy video driver, shown and fed by a Session, until
// the player quits or the terminal goes away. `partition` fixes libtcod's cave partition as the
// play driver's --partition does; `beforeKey`, when set, sees the App every time the game waits
// for a key (the test probe counts kills there). With `recordTo`, the game is recorded in that
// file (Record.hpp; a partition is drawn when none is given). Returns the exit status: 0 when
// the game ended (Escape on the title screen, hang-up, SIGINT, SIGTERM), 1 when it could not
// start or its recording could not be written (one line says why).
int play(std::optional<std::uint32_t> partition,
         const std::function<void(App&)>& beforeKey = nullptr, const std::string& recordTo = "");

}  // namespace terminal

#pragma once

#include <libtcod.hpp>

#include <chrono>
#include <functional>
#include <string>

// Showing the root console. The game flushes through here so that a headless run (the play
// driver's fuzzing) can skip the presenting work without changing anything else, and so that
// another front end (the terminal one) can show each flushed frame itself.
namespace display {

// Presents the root console (TCODConsole::flush) unless presenting is switched off, then tells
// the presenter, if one is set.
void flush();
// Switches presenting on (the default) or off.
void setPresenting(bool on);
// Sets the function called after every presented flush; an empty function clears it. With
// `insteadOfWindow` the presenter alone shows the frame and libtcod does not draw its window
// (the terminal front end, whose window under SDL's dummy driver nobody sees).
void setPresenter(std::function<void()> presenter, bool insteadOfWindow = false);

// Why the game cannot show its window, in a player's words, or an empty string when it can.
// A windowless video driver is fine when it was asked for (SDL_VIDEODRIVER=dummy, as the tests
// and tools do); SDL falling back to one by itself, because no display answers, is not: the
// game would wait for keys nobody can press. Starts SDL's video on the way.
std::string whyNoWindow();

// `colour` faded towards `towards` as libtcod's renderer shows it under TCODConsole::setFade:
// fade 255 leaves it, 0 gives `towards`.
TCODColor faded(const TCODColor& colour, const TCODColor& towards, int fade);

// Pacing for a front end that sends frames over a link (a terminal, a web page), so that a slow
// link is not flooded. Between the end of one frame sent and the next there are at least
// kFrameGap when the game flushes again without waiting for a key; a frame held back is sent
// when the game next waits for a key, so the last frame is always shown. The fade (256 flushes)
// shows one step in kFadeStride, each for kFrameGap (due() waits), and more steps are left out
// when a frame takes longer than kFrameGap to leave: 16 steps and about 0.7 s on a fast link.
constexpr std::chrono::milliseconds kFrameGap{40};
constexpr int kFadeStride = 16;

class FramePacer {
 public:
  using Clock = std::chrono::steady_clock;

  // Whether the frame just flushed at fade level `fade` (255: no fade) goes out now; false
  // means hold it. During the fade a step that is due is first waited for until kFrameGap has
  // passed since the last frame left.
  bool due(int fade);
  // A frame went out, begun at `start`: the gap is counted from now, and a fade step that took
  // longer than kFrameGap makes the fade skip more steps. Every frame sent is reported here,
  // whether due() or a key wait sent it.
  void sent(Clock::time_point start);

 private:
  Clock::time_point lastSent{};
  int nextFadeStep = 255 - kFadeStride;  // the next fade level shown
  int fadeStep = -1;                     // the fade level due() let out, until it is sent
};

// Gives the open window the game's icon, the "@" of vesperdeep.png, looked up beside the
// executable, then in <exe dir>/../share/icons/hicolor/64x64/apps/ (where it is installed). A
// missing or unreadable icon leaves the window's icon as it is, silently.
void setWindowIcon();

// Watches the open window when it is an X window: destroyed from outside, it closes the game as
// its close button does, without Xlib's six-line report; any other X error prints one line
// once and the game goes on.
void watchWindow();

}  // namespace display

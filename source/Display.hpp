#pragma once

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

// Gives the open window the game's icon, the "@" of vesperdeep.png, looked up beside the
// executable, then in <exe dir>/../share/icons/hicolor/64x64/apps/ (where it is installed). A
// missing or unreadable icon leaves the window's icon as it is, silently.
void setWindowIcon();

// Watches the open window when it is an X window: destroyed from outside, it closes the game as
// its close button does, without Xlib's six-line report; any other X error prints one line
// once and the game goes on.
void watchWindow();

}  // namespace display

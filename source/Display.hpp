#pragma once

#include <functional>

// Showing the root console. The game flushes through here so that a headless run (the play
// driver's fuzzing) can skip the presenting work without changing anything else, and so that
// another front end (the terminal one) can show each flushed frame itself.
namespace display {

// Presents the root console (TCODConsole::flush) unless presenting is switched off, then tells
// the presenter, if one is set.
void flush();
// Switches presenting on (the default) or off.
void setPresenting(bool on);
// Sets the function called after every presented flush; an empty function clears it.
void setPresenter(std::function<void()> presenter);

}  // namespace display

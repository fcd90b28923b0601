#pragma once

// Showing the root console. The game flushes through here so that a headless run (the play
// driver's fuzzing) can skip the presenting work without changing anything else.
namespace display {

// Presents the root console (TCODConsole::flush) unless presenting is switched off.
void flush();
// Switches presenting on (the default) or off.
void setPresenting(bool on);

}  // namespace display

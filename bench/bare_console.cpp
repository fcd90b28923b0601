// The least a libtcod program of this size holds in memory: the game's font sheet installed and
// an 80 x 50 root console opened and flushed once, nothing else. Prints its peak resident size
// in kilobytes, for comparison with a whole game (vesperdeep-memory).

#include <libtcod.hpp>

#include <cstdio>

#include "FontSheet.hpp"
#include "Process.hpp"

int main() {
  bench::preferHeadlessVideo();
  if (!fontsheet::load("Slate_curses_12x12.bmp")) return 1;
  TCODConsole::initRoot(80, 50, "Vesperdeep", false);
  TCODConsole::flush();
  std::printf("bare root console: peak resident %ld kB\n", bench::peakResidentKb());
  return 0;
}

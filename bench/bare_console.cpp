// The least a libtcod program of this size holds in memory: the game's font sheet installed and
// an 80 x 50 root console opened and flushed once, nothing else. Prints its peak resident size
// in kilobytes, for comparison with a whole game (vesperdeep-memory).

#include <libtcod.hpp>

#include <cstdio>

#include "FontSheet.hpp"
#include "Process.hpp"
#include "Tool.hpp"

namespace {

const char* const kUsage = R"(usage: vesperdeep-bare-console
Opens libtcod's 80 x 50 root console with the game's font sheet (from the working directory),
flushes it once and prints the process's peak resident size in kilobytes. Headless under SDL's
dummy video driver unless SDL_VIDEODRIVER is set.

Exit status: 0 done, 1 no font sheet, 64 bad arguments.
)";

}  // namespace

int main(int argc, char** argv) {
  harness::CommandLine line("vesperdeep-bare-console", kUsage, argc, argv);
  while (line.next())
    line.unknown();
  harness::preferHeadlessDrivers();
  if (!fontsheet::load("Slate_curses_12x12.bmp")) return harness::kExitFailed;
  TCODConsole::initRoot(80, 50, "Vesperdeep", false);
  TCODConsole::flush();
  std::printf("bare root console: peak resident %ld kB\n", bench::peakResidentKb());
  return harness::kExitDone;
}

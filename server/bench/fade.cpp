// vesperdeep-pipe-fade: how many bytes the web game sends for the end of the story: it plays the
// note and its fade through the pipe front end's Link (the story shortcut of 31 kills, as the
// play driver's --kills 31) and prints the size of every message the Escape that closes the
// note gives, up to the end screen. For server/bench/server_bench.py.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "App.hpp"
#include "Display.hpp"
#include "Keyboard.hpp"
#include "Link.hpp"
#include "Scenario.hpp"
#include "Tool.hpp"

namespace {

// The keys, as key messages: a game, 35 waits (the note comes with the 35th turn), the
// inventory, the note, and the Escape that closes it; then Escape twice to leave.
std::string keyMessages() {
  std::string keys = std::string("K\x02\0", 3);
  for (int i = 0; i < 35; ++i)
    keys += std::string("K.\0", 3);
  keys += std::string("Ki\0", 3) + std::string("Kb\0", 3);
  for (int i = 0; i < 3; ++i)
    keys += std::string("K\x01\0", 3);
  return keys;
}

}  // namespace

int main() {
  harness::preferHeadlessDrivers();
  char framesName[] = "/tmp/vesperdeep-fade-XXXXXX";
  const int framesFd = mkstemp(framesName);
  int keys[2];
  if (framesFd < 0 || pipe(keys) != 0) return 1;
  const std::string messages = keyMessages();
  if (write(keys[1], messages.data(), messages.size()) != static_cast<ssize_t>(messages.size()))
    return 1;
  close(keys[1]);
  {
    App app;
    if (!app.started) return 1;
    harness::fixPartition(0);
    pipefront::Link link(keys[0], framesFd);
    bool shortcut = false;
    display::setPresenter([&link] { link.flushed(); }, true);
    keyboard::setKeySource([&] {
      if (app.game && !shortcut) {
        app.game->killCount = 31;
        shortcut = true;
      }
      return link.nextKey();
    });
    app.run();
    keyboard::setKeySource(nullptr);
    display::setPresenter(nullptr);
  }
  std::ifstream in(framesName, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  unlink(framesName);
  // The messages between the 39th 'W' (waiting on the note) and the next one.
  int waits = 0;
  long long fadeBytes = 0;
  int fadeMessages = 0;
  for (std::size_t at = 0; at + 4 <= all.size();) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(all[at + i]); };
    const std::size_t size = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    const bool wait = size == 1 && all[at + 4] == 'W';
    if (wait) ++waits;
    if (!wait && waits == 39) {
      fadeBytes += static_cast<long long>(size);
      ++fadeMessages;
    }
    at += 4 + size;
  }
  std::printf("fade: %d messages, %lld bytes (WebSocket payloads), %d key waits in all\n",
              fadeMessages, fadeBytes, waits);
  return 0;
}

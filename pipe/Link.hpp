#pragma once

// The game of one web player, run by vesperdeep-server: keys come in on standard input and
// frames go out on descriptor protocol::kFrameFd (see Protocol.hpp). libtcod keeps the console
// under SDL's dummy video driver; this sends it.

#include <libtcod.hpp>

#include <cstdint>
#include <optional>
#include <string>

#include "App.hpp"
#include "Display.hpp"
#include "Frames.hpp"

namespace pipefront {

// The two ends of one game's link. Only one may exist at a time (it owns SIGHUP, SIGINT and
// SIGTERM while it is open).
class Link {
 public:
  // Keys are read from `keysFd`, messages written to `framesFd`.
  Link(int keysFd, int framesFd);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // After every presented flush of the root console: the changes go out, paced as
  // display::FramePacer paces them.
  void flushed();
  // The game's key source: sends what is held back and 'W', then the next key, or TCODK_NONE
  // (the window closed) once the keys end, the server is gone, or SIGHUP, SIGINT or SIGTERM
  // came. A malformed key message is skipped.
  TCOD_key_t nextKey();

  // From now on the server is told the state of `app`'s game before each 'W', and each key the
  // game reads ('S' and 'R', for its recording).
  void reportOn(const App& app) { reported = &app; }

  // How many bytes have gone out, for the benchmarks and tests.
  long long bytesSent() const { return sent; }

  // Sends the root console as it is now (the changes since the last frame sent): for a replay,
  // which draws without presenting while it seeks.
  void presentNow();
  // Sends one message to the server.
  void send(const std::string& message);
  // Whether the game should end: the server is gone, or SIGHUP, SIGINT or SIGTERM came.
  bool quitting() const;

 private:
  // Frames the root console's changes since the last frame sent into the outbox.
  void present();
  // Adds one message to the outbox; deliver() writes the outbox to the server.
  void queue(const std::string& message);
  void deliver();
  std::optional<std::string> readKeyMessage();

  int keysFd;
  int framesFd;
  bool pending = false;
  bool ended = false;
  bool firstSent = false;
  Screen shown;
  display::FramePacer pacer;
  std::string outbox;  // messages not yet written
  long long sent = 0;
  const App* reported = nullptr;
};

// The whole program: the App under SDL's dummy video driver, sent and fed by a Link on
// standard input and protocol::kFrameFd, until the player quits or the keys end. `partition`
// fixes libtcod's cave partition as the play driver's --partition does. Returns the exit
// status: 0 when the game ended (Escape on the title screen, end of keys, SIGHUP, SIGINT,
// SIGTERM), 1 when it could not start.
int play(std::optional<std::uint32_t> partition);

}  // namespace pipefront

#pragma once

// Watching a live game: any number of watchers (up to --max-watchers) follow a game on
// /watch?game=ID. A watcher who joins gets the screen as it is at once, built from the server's
// own copy of it, then every message the player gets from then on, the very same bytes; the
// game's end message closes them. Watchers never send keys, and one who does not read is
// dropped: every message is one shared buffer queued for each, so watchers cost the player no
// more than a queue entry each.

#include <boost/asio/ip/tcp.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Options.hpp"
#include "WebSocket.hpp"

namespace server {

class Admissions;
class Watcher;

// One message for the clients of a game, shared by every send of it.
using Shared = std::shared_ptr<const std::string>;

// The id of a new game on the server named `instance`: that name, "-", and 12 random characters
// of [a-z2-7], made by the server alone. The name tells a front end which server runs the game.
std::string gameId(const std::string& instance);

// The game id asked for in a /watch target ("/watch?game=ID"); empty when there is none or it
// has characters no id has.
std::string watchedId(std::string_view target);

// What the lobby and the status view show of one live game.
struct LiveGame {
  std::string id;
  int turns = 0;
  int kills = 0;
  std::chrono::steady_clock::duration sinceLastKey{};
  int watchers = 0;
};

// The game's screen as its player sees it, kept from the frames the player is sent.
class ScreenCopy {
 public:
  // Applies the runs of an 'F' or 'D' message; any other message changes nothing, and a
  // malformed one is applied up to its fault.
  void apply(std::string_view message);
  // The 'F' message of the screen as it is, or an empty string before the first 'F'.
  std::string fullFrame() const;

 private:
  struct Cell {
    std::uint8_t glyph = 0;
    std::array<char, 6> colours{};  // foreground r g b, background r g b
  };
  std::vector<Cell> cells;  // empty until the first 'F'
};

// The watchers of one live game.
class Audience {
 public:
  Audience(std::string id, int most) : gameName(std::move(id)), most(most) {}
  ~Audience();
  Audience(const Audience&) = delete;
  Audience& operator=(const Audience&) = delete;

  const std::string& id() const { return gameName; }
  // How many watch now.
  int count() const { return static_cast<int>(watchers.size()); }

  // A message the player was just sent ('F', 'D' or 'W'): kept in the screen copy and queued
  // for every watcher; a watcher whose queue overflows is dropped.
  void frame(const Shared& message);
  // The game has ended with the 'M' message `note`: every watcher gets it and is closed, and
  // nobody may join after. Only the first call counts.
  void end(const Shared& note);
  // `watcher` watches from now on and is sent the screen as it is. False, with the reason in
  // `why` (for the watcher), when the game has ended or has `most` watchers already.
  bool join(const std::shared_ptr<Watcher>& watcher, std::string& why);
  // `watcher` has gone (nothing when it was not watching).
  void leave(const Watcher* watcher);

 private:
  std::string gameName;
  int most;
  bool ended = false;
  ScreenCopy screen;
  std::vector<std::shared_ptr<Watcher>> watchers;
};

// Opens the WebSocket of a watcher on `socket` for the upgrade `request` and has it watch the
// game of `audience` (nullptr: no such game, which the watcher is told before it is closed).
// The watcher's connection is counted in `admissions` until it closes.
void startWatcher(boost::asio::ip::tcp::socket socket, std::string address, const Request& request,
                  const std::shared_ptr<Audience>& audience, const Limits& limits,
                  std::shared_ptr<Admissions> admissions);

}  // namespace server

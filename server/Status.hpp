#pragma once

// The operator's view of a running server: what was refused by each limit, the games running
// with their watchers, and the memory they take, as the text of /status (asked from the server's
// own machine) and of `vesperdeep-server --status ADDR:PORT`.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace server {

// Each limit that refuses or ends something; the order of the status page's lines.
enum class Refusal {
  Games,        // --max-games: a game refused, the server being full
  Connections,  // --max-connections: a connection refused, its address having too many
  QueuedKeys,   // --max-queued-keys: a flood of keys refused (once per flood)
  SendQueue,    // --max-send-queue: a player or watcher dropped for not reading
  Idle,         // --idle-timeout: a game ended for want of keys
  Handshake,    // --handshake-timeout: a connection closed before its request or opening
  Read,         // --read-timeout: a silent WebSocket closed
  MessageSize,  // a message larger than a key: its connection closed
  HeaderSize,   // a request whose headers are too large
  Origin,       // --allow-origin: a game asked from another site's page
  Watchers,     // --max-watchers, or no such game: a watcher refused
  Count
};

// Counts each refusal since the server started (one thread: no locking).
void countRefusal(Refusal kind);

// One game running, as the status page lists it.
struct RunningGame {
  int pid = 0;
  std::string address;          // the player's
  std::string id;               // the game's, as watchers ask for it
  int watchers = 0;             // watching now
  std::chrono::seconds age{0};  // since the game started
};

// The text of the status page: the games running (of `mostGames`) with their watchers and the
// resident memory of each, the server's own, and the count of each refusal. Reads /proc for
// the memory.
std::string statusText(const std::vector<RunningGame>& games, int mostGames);

// Whether a request from `address` may see the status page: one from this machine that no
// proxy forwarded (`forwarded`: it carries Forwarded, X-Forwarded-For or X-Real-IP).
bool statusAllowed(const std::string& address, bool forwarded);

// `text` as a log line may carry it: printable ASCII only (anything else becomes '?'), at most
// 120 characters.
std::string printable(const std::string& text);

// Asks the server at `host`:`port` for its status page and prints it on standard output.
// Returns the program's status: 0, or 1 with one line on standard error when it cannot.
int queryStatus(const std::string& host, std::uint16_t port);

}  // namespace server

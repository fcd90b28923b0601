#pragma once

// vesperdeep-server: one HTTP and WebSocket server on one thread. It serves the page's few
// files from a fixed list and, on /play, gives each player a game of their own in a child
// process (Spawn.hpp), relaying keys in and frames out (docs/protocol.md); on /watch?game=ID
// others watch a game live (Watchers.hpp).

#include <boost/asio.hpp>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "Options.hpp"
#include "Watchers.hpp"

namespace server {

class Player;

// Open connections per address, shared by the server and its connections (which may outlive it
// while the program ends).
class Admissions {
 public:
  explicit Admissions(int most) : most(most) {}
  // An open connection from `address`; false (and a log line) when it has too many already.
  bool admit(const std::string& address);
  // The connection from `address` is closed.
  void release(const std::string& address);

 private:
  int most;
  std::map<std::string, int> open;
};

class Server {
 public:
  Server(boost::asio::io_context& io, Options options, std::string gameProgram);

  // Listens on the address of the options and handles SIGTERM, SIGINT and SIGCHLD. Prints one
  // line and returns false when it cannot listen.
  bool start();

  const Options& options() const { return settings; }
  const std::string& program() const { return gameProgram; }
  // The open connections per address.
  const std::shared_ptr<Admissions>& admissions() const { return counts; }

  // A game may start; false when `games` are running already.
  bool roomForGame() const { return static_cast<int>(players.size()) < settings.limits.games; }
  // The game of `player` was started as `pid`: the server reaps it, and ends it on shutdown.
  void gameStarted(const std::shared_ptr<Player>& player, int pid);
  // The games running now, in no particular order, for the lobby and the status view.
  std::vector<LiveGame> liveGames() const;
  // The watchers of the running game `id`, or nullptr when no game has that id.
  std::shared_ptr<Audience> watchersOf(const std::string& id) const;
  // Whether the server is shutting down (no new games).
  bool stopping() const { return shuttingDown; }

 private:
  void accept();
  void waitForSignal();
  void waitForChildren();
  void reap();
  void shutDown();
  void finishWhenIdle();

  boost::asio::io_context& io;
  Options settings;
  std::string gameProgram;
  boost::asio::ip::tcp::acceptor acceptor;
  boost::asio::signal_set quitSignals;
  boost::asio::signal_set childSignals;
  boost::asio::steady_timer lastChance;
  std::shared_ptr<Admissions> counts;
  std::map<int, std::shared_ptr<Player>> players;  // by the pid of their game
  bool shuttingDown = false;
};

// One line on standard error, prefixed with the program's name.
void log(const std::string& line);

}  // namespace server

#pragma once

// vesperdeep-server's command line: where it listens, its limits, what its games get.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace server {

// Every limit of the server; each is a command-line option (see kUsage in Options.cpp).
struct Limits {
  int games = 64;                      // games running at once
  int connectionsPerAddress = 16;      // open connections (HTTP and WebSocket) from one address
  int queuedKeys = 32;                 // keys waiting for one game
  int watchers = 100;                  // watchers of one game
  std::size_t sendQueue = 1 << 20;     // bytes waiting to go to one client before it is dropped
  std::chrono::seconds idle{30 * 60};  // no key for this long ends a game
  std::chrono::seconds handshake{10};  // to send an HTTP request or finish a WebSocket opening
  std::chrono::seconds read{60};       // silence (no data, no answer to a ping) on a WebSocket
  std::uint64_t memoryMb = 1024;       // each game's address space (0: no limit)
  std::uint64_t cpuSeconds = 3600;     // each game's processor time
  std::uint64_t openFiles = 64;        // each game's open descriptors
};

// The host name's first label when it is a valid instance name, else "a".
std::string defaultInstance();

struct Options {
  std::string host = "127.0.0.1";
  std::uint16_t port = 8080;
  Limits limits;
  std::vector<std::string> origins;        // allowed besides the page's own (http://HOST)
  std::optional<std::uint32_t> partition;  // every game's cave partition
  std::vector<std::string> passEnv;        // variables handed on to every game
  // --trust-proxy ADDR: front ends whose X-Forwarded-For names the client (its last entry);
  // each as the server writes a connection's address. From any other peer the header is ignored.
  std::vector<std::string> trustedProxies;
  bool allowRoot = false;
  std::string dataDir;  // where every game's recording goes (empty: games are not recorded)
  // --status ADDR:PORT: only ask the server there for its status page, print it and exit.
  std::optional<std::pair<std::string, std::uint16_t>> statusOf;
  // This server's name among several sharing one data directory behind one front end: it
  // starts every recording's name, so that no two servers ever make the same one.
  std::string instance = defaultInstance();
};

// Whether `name` may name an instance: 1 to 16 of a-z and 0-9.
bool validInstance(const std::string& name);

// The options of `argv`. --help prints the usage and ends the program with status 0; anything
// else wrong prints one line and ends it with status 64.
Options parseOptions(int argc, char** argv);

// `text` written as the server writes a connection's address, or "" when it is no IP address.
std::string normalAddress(const std::string& text);

// "ADDR:PORT" or "[ADDR6]:PORT" split into its address and port; false when it is neither.
bool splitListen(const std::string& text, std::string& host, std::uint16_t& port);

}  // namespace server

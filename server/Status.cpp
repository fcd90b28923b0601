#include "Status.hpp"

#include <unistd.h>

#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdio>
#include <fstream>

namespace server {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

// What each refusal is called on the status page, in the order of Refusal.
constexpr std::array<const char*, static_cast<std::size_t>(Refusal::Count)> kRefusalNames{
    "games (--max-games)",
    "connections from one address (--max-connections)",
    "key floods (--max-queued-keys)",
    "clients not reading (--max-send-queue)",
    "idle games (--idle-timeout)",
    "handshakes too slow (--handshake-timeout)",
    "silent WebSockets (--read-timeout)",
    "messages too large",
    "headers too large",
    "pages of another site (--allow-origin)",
    "watchers (--max-watchers, or no such game)"};

std::array<std::uint64_t, static_cast<std::size_t>(Refusal::Count)> refusals{};

constexpr auto kQueryTimeout = std::chrono::seconds(5);

// The resident memory of process `pid` ("self" for the server) in KiB, from /proc; 0 when it
// cannot be read (the game has just ended).
std::uint64_t residentKib(const std::string& pid) {
  std::ifstream statm("/proc/" + pid + "/statm");
  std::uint64_t size = 0;
  std::uint64_t resident = 0;
  if (!(statm >> size >> resident)) return 0;
  return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

std::string kib(std::uint64_t amount) {
  return std::to_string(amount) + " KiB";
}

}  // namespace

void countRefusal(Refusal kind) {
  ++refusals.at(static_cast<std::size_t>(kind));
}

std::string statusText(const std::vector<RunningGame>& games, int mostGames) {
  std::string text = "vesperdeep-server status\n\ngames running: " + std::to_string(games.size()) +
                     " of " + std::to_string(mostGames) + "\n";
  std::uint64_t gamesMemory = 0;
  int watchers = 0;
  for (const RunningGame& game : games) {
    const std::uint64_t memory = residentKib(std::to_string(game.pid));
    gamesMemory += memory;
    watchers += game.watchers;
    text += "  pid " + std::to_string(game.pid) + "  " + game.address + "  game " + game.id + "  " +
            std::to_string(game.age.count()) + " s  " + std::to_string(game.watchers) +
            " watching  " + kib(memory) + "\n";
  }
  text += "watchers: " + std::to_string(watchers) +
          "\n\nmemory (resident):\n  server: " + kib(residentKib("self")) +
          "\n  games: " + kib(gamesMemory) + "\n\nrefused or ended by a limit:\n";
  for (std::size_t i = 0; i < kRefusalNames.size(); ++i)
    text += "  " + std::string(kRefusalNames[i]) + ": " + std::to_string(refusals[i]) + "\n";
  return text;
}

bool statusAllowed(const std::string& address, bool forwarded) {
  if (forwarded) return false;
  boost::system::error_code error;
  const asio::ip::address peer = asio::ip::make_address(address, error);
  if (error) return false;
  if (peer.is_v6() && peer.to_v6().is_v4_mapped()) return peer.to_v6().to_v4().is_loopback();
  return peer.is_loopback();
}

std::string printable(const std::string& text) {
  constexpr std::size_t kLongest = 120;
  std::string out;
  for (const char c : text.substr(0, kLongest))
    out += c >= ' ' && c <= '~' ? c : '?';
  return out;
}

int queryStatus(const std::string& host, std::uint16_t port) {
  const auto fail = [&](const std::string& why) {
    std::fprintf(stderr, "vesperdeep-server: no status from %s:%u: %s\n", host.c_str(),
                 static_cast<unsigned>(port), why.c_str());
    return 1;
  };
  boost::system::error_code error;
  const asio::ip::address address = asio::ip::make_address(host, error);
  if (error) return fail("not an IP address");
  asio::io_context io;
  beast::tcp_stream stream(io);
  beast::flat_buffer buffer;
  http::request<http::empty_body> request(http::verb::get, "/status", 11);
  request.set(http::field::host, host);
  http::response<http::string_body> response;
  stream.expires_after(kQueryTimeout);
  stream.async_connect({address, port}, [&](beast::error_code connected) {
    if ((error = connected)) return;
    http::async_write(stream, request, [&](beast::error_code written, std::size_t) {
      if ((error = written)) return;
      http::async_read(stream, buffer, response,
                       [&](beast::error_code read, std::size_t) { error = read; });
    });
  });
  io.run();
  if (error) return fail(error.message());
  if (response.result() != http::status::ok)
    return fail("the server answered " + std::to_string(response.result_int()));
  std::fputs(response.body().c_str(), stdout);
  return 0;
}

}  // namespace server

#include "Options.hpp"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace server {
namespace {

const char* const kUsage = R"(usage: vesperdeep-server [options]
Serves Vesperdeep as a web page: each player's game runs in its own vesperdeep-pipe process
(found beside this program, or installed in ../lib/vesperdeep-server). Open http://ADDR:PORT/
in a browser.

  --listen ADDR:PORT         where to listen (default 127.0.0.1:8080; IPv6 as [::1]:8080)
  --max-games N              games running at once (default 64)
  --max-connections N        open connections from one address (default 16)
  --max-queued-keys N        keys waiting for one game; more are refused (default 32)
  --max-watchers N           watchers of one game at once (default 100)
  --max-send-queue BYTES     bytes waiting for a client (player or watcher) that does not
                             read before it is dropped (default 1048576)
  --idle-timeout SECONDS     a game with no key for this long ends (default 1800)
  --handshake-timeout SECONDS  to send an HTTP request or open the WebSocket (default 10)
  --read-timeout SECONDS     a WebSocket silent this long (pings unanswered) is closed
                             (default 60)
  --allow-origin ORIGIN      a page origin allowed to open games besides the server's own
                             (repeatable; as the browser sends it: https://example.org)
  --game-memory MB           each game's address space (default 1024; 0: no limit)
  --game-cpu SECONDS         each game's processor time (default 3600)
  --game-files N             each game's open files (default 64)
  --partition N              every game gets the cave partition N (0 to 4294967295), as
                             vesperdeep-driver --partition N; for tests and replays
  --data DIR                 record every game in DIR (an existing directory the server can
                             write; see docs/recordings.md); without it nothing is recorded
  --instance NAME            this server's name (1 to 16 of a-z, 0-9; default: the host
                             name's first label if it fits, else "a"): it starts the name of
                             every recording, so several servers may share one --data
                             directory (see docs/hosting.md)
  --trust-proxy ADDR         a front end (such as nginx) at ADDR whose X-Forwarded-For
                             names the client: its last entry is the address the
                             connection limits, the log and the status see (repeatable;
                             from any other address the header is ignored)
  --pass-env NAME            hand the variable NAME on to every game (repeatable; games
                             otherwise get a clean environment)
  --status ADDR:PORT         print the status of the server at ADDR:PORT (its games, their
                             memory, what each limit refused) and exit; the server shows it
                             at /status only to its own machine, never through a proxy
  --allow-root               run even as root (for tests in containers only: the server
                             needs no privileges and should never have them)
  --help                     this text

Exit status: 0 after SIGTERM or SIGINT, 1 when it cannot start, 64 bad arguments;
with --status, 0 or 1 when the server does not answer.
)";

[[noreturn]] void usageError(const std::string& why) {
  std::fprintf(stderr, "vesperdeep-server: %s (see vesperdeep-server --help)\n", why.c_str());
  std::exit(64);
}

unsigned long long number(const char* option, const char* text, unsigned long long min,
                          unsigned long long max) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*text == '\0' || *text == '-' || *end != '\0' || errno != 0 || value < min || value > max) {
    usageError(std::string(option) + " needs a number from " + std::to_string(min) + " to " +
               std::to_string(max) + ", not \"" + text + "\"");
  }
  return value;
}

}  // namespace

bool splitListen(const std::string& text, std::string& host, std::uint16_t& port) {
  std::string portText;
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find("]:");
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    portText = text.substr(close + 2);
  } else {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon) return false;
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
  }
  if (host.empty() || portText.empty() || portText.size() > 5) return false;
  for (char c : portText) {
    if (c < '0' || c > '9') return false;
  }
  const unsigned long value = std::strtoul(portText.c_str(), nullptr, 10);
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

std::string normalAddress(const std::string& text) {
  unsigned char bytes[sizeof(in6_addr)] = {};
  char written[INET6_ADDRSTRLEN] = {};
  for (const int family : {AF_INET, AF_INET6}) {
    if (inet_pton(family, text.c_str(), bytes) == 1 &&
        inet_ntop(family, bytes, written, sizeof written) != nullptr)
      return written;
  }
  return "";
}

namespace {

// `dir` when it is a directory the server may write in; otherwise one line and status 64.
std::string dataDirectory(const std::string& dir) {
  struct stat info {};
  if (dir.empty() || stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      access(dir.c_str(), W_OK | X_OK) != 0)
    usageError("--data needs a directory the server can write, not \"" + dir + "\"");
  return dir;
}

}  // namespace

bool validInstance(const std::string& name) {
  constexpr std::size_t kLongest = 16;
  return !name.empty() && name.size() <= kLongest &&
         std::all_of(name.begin(), name.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

std::string defaultInstance() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return "a";
  std::string label(host, std::strcspn(host, "."));
  std::transform(label.begin(), label.end(), label.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return validInstance(label) ? label : "a";
}

Options parseOptions(int argc, char** argv) {
  Options options;
  Limits& limits = options.limits;
  constexpr auto kBig = static_cast<unsigned long long>(std::numeric_limits<int>::max());
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (option == "--allow-root") {
      options.allowRoot = true;
      continue;
    }
    if (i + 1 >= argc) usageError("unknown option or missing value: " + option);
    const char* value = argv[++i];
    const auto seconds = [&](unsigned long long min) {
      return std::chrono::seconds(number(option.c_str(), value, min, 365ULL * 24 * 3600));
    };
    if (option == "--listen") {
      if (!splitListen(value, options.host, options.port))
        usageError(std::string("--listen needs ADDR:PORT or [ADDR]:PORT, not \"") + value + "\"");
    } else if (option == "--status") {
      std::pair<std::string, std::uint16_t> target;
      if (!splitListen(value, target.first, target.second))
        usageError(std::string("--status needs ADDR:PORT or [ADDR]:PORT, not \"") + value + "\"");
      options.statusOf = target;
    } else if (option == "--max-games") {
      limits.games = static_cast<int>(number(argv[i - 1], value, 1, 100000));
    } else if (option == "--max-connections") {
      limits.connectionsPerAddress = static_cast<int>(number(argv[i - 1], value, 1, kBig));
    } else if (option == "--max-queued-keys") {
      limits.queuedKeys = static_cast<int>(number(argv[i - 1], value, 1, 100000));
    } else if (option == "--max-watchers") {
      limits.watchers = static_cast<int>(number(argv[i - 1], value, 0, 100000));
    } else if (option == "--max-send-queue") {
      limits.sendQueue = number(argv[i - 1], value, 1024, 1ULL << 30);
    } else if (option == "--idle-timeout") {
      limits.idle = seconds(1);
    } else if (option == "--handshake-timeout") {
      limits.handshake = seconds(1);
    } else if (option == "--read-timeout") {
      limits.read = seconds(1);
    } else if (option == "--allow-origin") {
      options.origins.emplace_back(value);
    } else if (option == "--game-memory") {
      limits.memoryMb = number(argv[i - 1], value, 0, 1ULL << 20);
    } else if (option == "--game-cpu") {
      limits.cpuSeconds = number(argv[i - 1], value, 1, 1ULL << 31);
    } else if (option == "--game-files") {
      limits.openFiles = number(argv[i - 1], value, 8, 1ULL << 16);
    } else if (option == "--partition") {
      options.partition = static_cast<std::uint32_t>(number(argv[i - 1], value, 0, UINT32_MAX));
    } else if (option == "--data") {
      options.dataDir = dataDirectory(value);
    } else if (option == "--instance") {
      if (!validInstance(value))
        usageError(std::string("--instance needs 1 to 16 of a-z and 0-9, not \"") + value + "\"");
      options.instance = value;
    } else if (option == "--trust-proxy") {
      const std::string address = normalAddress(value);
      if (address.empty())
        usageError(std::string("--trust-proxy needs an IP address, not \"") + value + "\"");
      options.trustedProxies.push_back(address);
    } else if (option == "--pass-env") {
      options.passEnv.emplace_back(value);
    } else {
      usageError("unknown option " + option);
    }
  }
  return options;
}

}  // namespace server

#include "Replay.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "App.hpp"
#include "Display.hpp"
#include "KeyToken.hpp"
#include "Keyboard.hpp"
#include "Link.hpp"
#include "Protocol.hpp"
#include "Record.hpp"
#include "Recording.hpp"
#include "ReplayControl.hpp"

namespace pipefront {
namespace {

using Clock = std::chrono::steady_clock;
namespace rc = replaycontrol;

// A u32 little-endian appended to `out`.
void appendU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t u32At(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return value;
}

bool parseNumber(const char* text, std::uint32_t& value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || *text == '-' || parsed > UINT32_MAX)
    return false;
  value = static_cast<std::uint32_t>(parsed);
  return true;
}

// The keys of a recording as the game reads them; nothing (and one line) for a token the
// recordings never hold.
std::optional<std::vector<TCOD_key_t>> keysOf(const recording::Recording& recorded) {
  std::vector<TCOD_key_t> keys;
  keys.reserve(recorded.keys.size());
  for (const std::string& token : recorded.keys) {
    const std::optional<TCOD_key_t> key = recording::keyOfToken(token);
    if (!key) {
      std::fprintf(stderr, "vesperdeep-pipe: the recording holds an unknown key %s\n",
                   token.c_str());
      return std::nullopt;
    }
    keys.push_back(*key);
  }
  return keys;
}

// The window closed: the game ends as it does when the server hangs up.
TCOD_key_t noKey() {
  keyboard::closeWindow();
  TCOD_key_t key{};
  key.vk = TCODK_NONE;
  return key;
}

// Feeds the game the recording's keys as the page's controls say.
class Replayer {
 public:
  Replayer(Link& link, const App& app, const ReplayStart& start, std::vector<TCOD_key_t> keys,
           std::vector<std::int64_t> times)
      : link(link),
        app(app),
        start(start),
        keys(std::move(keys)),
        times(std::move(times)),
        target(std::min<std::size_t>(start.at, this->keys.size())),
        speed(start.speed),
        paused(start.paused) {
    seeking = target > 0;
    display::setPresenting(!seeking);
  }

  // The game's key source.
  TCOD_key_t nextKey() {
    if (seeking && at >= target) finishSeek();
    if (seeking) return give();
    if (!(speed == rc::kFastest && playing() && Clock::now() - lastShown < display::kFrameGap))
      show();
    for (;;) {
      if (link.quitting()) return noKey();
      if (stepping) {
        stepping = false;
        return give();
      }
      const int wait = playing() ? waitMs() : -1;
      if (wait == 0) return give();
      if (!control(wait)) return noKey();
      if (seeking) return give();
    }
  }

  // The game ended by the recording's own keys (Escape on the title screen): its last screen
  // stays, and only a seek back (which starts over) or the end of the controls is heeded.
  void afterEnd() {
    over = true;
    show();
    while (!link.quitting() && control(-1)) {
    }
  }

 private:
  bool playing() const { return !paused && at < keys.size(); }

  TCOD_key_t give() {
    lastGiven = Clock::now();
    return keys[at++];
  }

  // Milliseconds until the next key is due at the current speed.
  int waitMs() const {
    if (speed == rc::kFastest) return 0;
    const std::int64_t gap = times[at] - (at > 0 ? times[at - 1] : 0);
    const auto due = lastGiven + std::chrono::milliseconds(
                                     std::clamp<std::int64_t>(gap, 0, kLongestPauseMs) / speed);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
  }

  void finishSeek() {
    seeking = false;
    display::setPresenting(true);
  }

  // Sends the screen and where the replay stands.
  void show() {
    link.presentNow();
    lastShown = Clock::now();
    sendPosition();
  }

  void sendPosition() {
    const std::string status = statusMessage(app.game.get());
    std::string out(1, rc::kPosition);
    appendU32(out, static_cast<std::uint32_t>(at));
    appendU32(out, static_cast<std::uint32_t>(keys.size()));
    appendU32(out, u32At(status, 1));
    appendU32(out, u32At(status, 5));
    out += static_cast<char>(speed);
    out += static_cast<char>(playing() ? 0 : 1);
    link.send(out);
  }

  // Waits up to `timeoutMs` (-1: for ever) for a control and obeys it; false once the controls
  // have ended or a quit signal came.
  bool control(int timeoutMs) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&in, 1, timeoutMs);
    if (ready < 0) return errno == EINTR && !link.quitting();
    if (ready == 0) return true;
    char byte[rc::kControlSize];
    const ssize_t got = read(STDIN_FILENO, byte, rc::kControlSize - partial.size());
    if (got < 0) return errno == EINTR && !link.quitting();
    if (got == 0) return false;
    partial.append(byte, static_cast<std::size_t>(got));
    if (partial.size() < rc::kControlSize) return true;
    const std::string message = std::move(partial);
    partial.clear();
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    if (rc::isControl(bytes, message.size())) obey(message[0], rc::argumentOf(bytes));
    return true;
  }

  void obey(char operation, std::uint32_t argument) {
    switch (operation) {
      case rc::kPlay:
        speed = argument;
        paused = false;
        lastGiven = Clock::now();
        break;
      case rc::kPause:
        paused = true;
        break;
      case rc::kStep:
        paused = true;
        stepping = at < keys.size();
        break;
      case rc::kSeek:
        seekTo(std::min<std::size_t>(argument, keys.size()));
        break;
      default:
        break;
    }
    // A key to come shows its own position with its screen.
    if (!stepping && !seeking) sendPosition();
  }

  void seekTo(std::size_t wanted) {
    if (wanted < at || over) startOver(wanted);
    if (wanted == at) return;
    target = wanted;
    seeking = true;
    display::setPresenting(false);
  }

  // The program again from its first key, replayed to `wanted` keys.
  [[noreturn]] void startOver(std::size_t wanted) {
    const std::string atText = std::to_string(wanted);
    const std::string speedText = std::to_string(speed);
    std::vector<const char*> argv{"vesperdeep-pipe", "--replay", start.file.c_str(), "--at",
                                  atText.c_str(),    "--speed",  speedText.c_str()};
    if (paused) argv.push_back("--paused");
    argv.push_back(nullptr);
    std::fflush(nullptr);
    execv("/proc/self/exe", const_cast<char* const*>(argv.data()));
    std::fprintf(stderr, "vesperdeep-pipe: cannot start the replay over: %s\n",
                 std::strerror(errno));
    std::_Exit(1);
  }

  Link& link;
  const App& app;
  const ReplayStart& start;
  std::vector<TCOD_key_t> keys;
  std::vector<std::int64_t> times;
  std::size_t at = 0;
  std::size_t target = 0;
  std::uint32_t speed;
  bool paused;
  bool seeking = false;
  bool stepping = false;
  bool over = false;  // the game has ended: every seek starts over
  std::string partial;
  Clock::time_point lastGiven = Clock::now();
  Clock::time_point lastShown{};
};

// The recording `file` as the game reads it, or nothing (and one line).
struct Loaded {
  recording::Recording recorded;
  std::vector<TCOD_key_t> keys;
};
std::optional<Loaded> loadKeys(const std::string& file) {
  recording::Loaded loaded = recording::load(file);
  if (!loaded.recording) {
    std::fprintf(stderr, "vesperdeep-pipe: %s\n", loaded.error.c_str());
    return std::nullopt;
  }
  std::optional<std::vector<TCOD_key_t>> keys = keysOf(*loaded.recording);
  if (!keys) return std::nullopt;
  return Loaded{std::move(*loaded.recording), std::move(*keys)};
}

// Runs `body` with a started App on `partition` (SDL's dummy drivers); 1 when the game cannot
// start or throws, else what `body` returns.
template <typename Body>
int withGame(std::uint32_t partition, Body body) {
  try {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    App app(App::Window::Unseen);
    if (!app.started) return 1;         // the reason has been printed
    const TCODRandom fresh(partition);  // as play() fixes a partition
    TCODRandom::getInstance()->restore(&fresh);
    const int status = body(app);
    keyboard::setKeySource(nullptr);
    display::setPresenter(nullptr);
    display::setPresenting(true);
    return status;
  } catch (const std::exception& error) {
    keyboard::setKeySource(nullptr);
    display::setPresenter(nullptr);
    std::fprintf(stderr, "vesperdeep-pipe: %s\n", error.what());
    return 1;
  }
}

}  // namespace

int verify(const std::string& file) {
  std::optional<Loaded> loaded = loadKeys(file);
  if (!loaded) return 1;
  return withGame(loaded->recorded.partition, [&](App& app) {
    std::size_t at = 0;
    std::string lastEnd;  // the game's status the last time it waited on the end screen
    display::setPresenting(false);
    keyboard::setKeySource([&] {
      const std::string status = statusMessage(app.game.get());
      if (static_cast<std::uint8_t>(status[9]) == protocol::kEndScreen) lastEnd = status;
      return at < loaded->keys.size() ? loaded->keys[at++] : noKey();
    });
    app.run();
    const recording::Summary& said = loaded->recorded.summary;
    const bool reached = !lastEnd.empty() && said.ending == recording::Ending::EndScreen &&
                         u32At(lastEnd, 1) == static_cast<std::uint32_t>(said.turns) &&
                         u32At(lastEnd, 5) == static_cast<std::uint32_t>(said.kills);
    std::string verdict{rc::kVerdict, static_cast<char>(reached ? 1 : 0)};
    appendU32(verdict, lastEnd.empty() ? 0 : u32At(lastEnd, 1));
    appendU32(verdict, lastEnd.empty() ? 0 : u32At(lastEnd, 5));
    Link link(STDIN_FILENO, protocol::kFrameFd);
    link.send(verdict);
    return 0;
  });
}

bool parseReplayOptions(int argc, char** argv, ReplayStart& start) {
  if (argc < 3) {
    std::fprintf(stderr, "vesperdeep-pipe: --replay needs a recording\n");
    return false;
  }
  start.file = argv[2];
  for (int i = 3; i < argc; ++i) {
    const std::string_view option = argv[i];
    std::uint32_t value = 0;
    if (option == "--paused") {
      start.paused = true;
    } else if ((option == "--at" || option == "--speed") && i + 1 < argc &&
               parseNumber(argv[i + 1], value)) {
      (option == "--at" ? start.at : start.speed) = value;
      ++i;
    } else {
      std::fprintf(stderr, "vesperdeep-pipe: unknown or malformed replay option %s\n", argv[i]);
      return false;
    }
  }
  if (start.speed != rc::kRecordedPace && start.speed != rc::kFourTimes &&
      start.speed != rc::kFastest) {
    std::fprintf(stderr, "vesperdeep-pipe: --speed is 0, 1 or 4\n");
    return false;
  }
  return true;
}

int replay(const ReplayStart& start) {
  std::optional<Loaded> loaded = loadKeys(start.file);
  if (!loaded) return 1;
  return withGame(loaded->recorded.partition, [&](App& app) {
    Link link(STDIN_FILENO, protocol::kFrameFd);
    Replayer replayer(link, app, start, std::move(loaded->keys), loaded->recorded.times);
    display::setPresenter([&link] { link.flushed(); }, true);
    keyboard::setKeySource([&replayer] { return replayer.nextKey(); });
    app.run();
    keyboard::setKeySource(nullptr);
    display::setPresenting(true);
    replayer.afterEnd();
    return 0;
  });
}

}  // namespace pipefront

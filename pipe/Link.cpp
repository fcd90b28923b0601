#include "Link.hpp"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "App.hpp"
#include "Keyboard.hpp"
#include "Protocol.hpp"
#include "Record.hpp"

namespace pipefront {
namespace {

volatile std::sig_atomic_t quitSignal = 0;
constexpr int kQuitSignals[] = {SIGHUP, SIGINT, SIGTERM};

void onQuitSignal(int signal) {
  quitSignal = signal;  // the key read is interrupted (no SA_RESTART) and sees this
}

void installHandlers() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = onQuitSignal;
  for (int signal : kQuitSignals)
    sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);  // a server that is gone is seen as a failed write
}

void removeHandlers() {
  for (int signal : kQuitSignals)
    std::signal(signal, SIG_DFL);
}

TCOD_key_t noKey() {
  TCOD_key_t key{};
  key.vk = TCODK_NONE;
  return key;
}

}  // namespace

Link::Link(int keysFd, int framesFd) : keysFd(keysFd), framesFd(framesFd) {
  installHandlers();
}

Link::~Link() {
  removeHandlers();
}

void Link::flushed() {
  pending = true;
  if (pacer.due(TCODConsole::getFade())) present();
  deliver();
}

void Link::presentNow() {
  pending = true;
  present();
  deliver();
}

bool Link::quitting() const {
  return ended || quitSignal != 0;
}

void Link::present() {
  if (!pending || ended) return;
  const auto start = display::FramePacer::Clock::now();
  Screen now = captureRoot();
  queue(firstSent ? changes(shown, now) : fullFrame(now));
  firstSent = true;
  shown = std::move(now);
  pending = false;
  pacer.sent(start);
}

void Link::send(const std::string& message) {
  queue(message);
  deliver();
}

void Link::queue(const std::string& message) {
  if (message.empty() || ended) return;
  const auto size = static_cast<std::uint32_t>(message.size());
  outbox += {static_cast<char>(size & 0xFF), static_cast<char>((size >> 8) & 0xFF),
             static_cast<char>((size >> 16) & 0xFF), static_cast<char>(size >> 24)};
  outbox += message;
}

void Link::deliver() {
  std::size_t done = 0;
  while (done < outbox.size() && !ended) {
    const ssize_t wrote = write(framesFd, outbox.data() + done, outbox.size() - done);
    if (wrote < 0 && errno == EINTR && quitSignal == 0) continue;
    if (wrote <= 0) {
      ended = true;  // the server is gone: the game ends at its next key wait
      break;
    }
    done += static_cast<std::size_t>(wrote);
  }
  sent += static_cast<long long>(done);
  outbox.clear();
}

std::optional<std::string> Link::readKeyMessage() {
  std::string message;
  while (message.size() < protocol::kKeySize) {
    if (quitSignal != 0 || ended) return std::nullopt;
    char buffer[protocol::kKeySize];
    const ssize_t got = read(keysFd, buffer, protocol::kKeySize - message.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;  // the server closed our keys: a hang-up
    message.append(buffer, static_cast<std::size_t>(got));
  }
  return message;
}

TCOD_key_t Link::nextKey() {
  // The game waits: whatever it drew last, its state and the 'W' go out in one write, so
  // that the server wakes once for them.
  present();
  if (reported != nullptr) queue(statusMessage(reported->game.get()));
  queue(std::string(1, protocol::kWaiting));
  deliver();
  while (std::optional<std::string> message = readKeyMessage()) {
    std::optional<TCOD_key_t> key = keyOf(*message);
    if (!key) continue;
    if (reported != nullptr) send(keyReadMessage(*key));
    return *key;
  }
  ended = true;
  keyboard::closeWindow();
  return noKey();
}

int play(std::optional<std::uint32_t> partition) {
  try {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    App app(App::Window::Unseen);
    if (!app.started) return 1;  // no font sheet; the reason has been printed
    if (partition) {
      // libtcod's default generator, which splits every new cave, as a fresh TCODRandom(N)
      const TCODRandom fresh(*partition);
      TCODRandom::getInstance()->restore(&fresh);
    }
    Link link(STDIN_FILENO, protocol::kFrameFd);
    link.reportOn(app);
    display::setPresenter([&link] { link.flushed(); }, true);
    keyboard::setKeySource([&link] { return link.nextKey(); });
    app.run();
    keyboard::setKeySource(nullptr);
    display::setPresenter(nullptr);
    return 0;
  } catch (const std::exception& error) {
    keyboard::setKeySource(nullptr);
    display::setPresenter(nullptr);
    std::fprintf(stderr, "vesperdeep-pipe: %s\n", error.what());
    return 1;
  }
}

}  // namespace pipefront

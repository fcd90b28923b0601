#include "Terminal.hpp"

#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <exception>
#include <random>
#include <vector>

#include "App.hpp"
#include "Cp437.hpp"
#include "Display.hpp"
#include "FontSheet.hpp"
#include "Keyboard.hpp"
#include "Keys.hpp"
#include "Record.hpp"

namespace terminal {
namespace {

constexpr int kIdleWakeupsAtEnd = 3;  // readable with nothing to read, again and again: no input
constexpr std::size_t kReadAtOnce = 4096;  // characters and key codes read in one go

// ---- Signals ---------------------------------------------------------------------------------
// The handlers only touch these: a flag, a pipe that wakes the key wait, and what puts the
// terminal back after a crash (written out in advance, since a handler may not call ncurses).

volatile std::sig_atomic_t quitSignal = 0;
int wakePipe[2] = {-1, -1};
struct termios savedModes;
bool haveSavedModes = false;
char restoreText[256];
std::size_t restoreLength = 0;

constexpr std::array<int, 3> kQuitSignals = {SIGHUP, SIGINT, SIGTERM};
constexpr std::array<int, 6> kCrashSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT};
std::array<struct sigaction, 6> previousCrash{};
std::array<struct sigaction, 3> previousQuit{};

void onQuitSignal(int signal) {
  const int saved = errno;
  quitSignal = signal;
  const char byte = 1;
  if (wakePipe[1] >= 0 && write(wakePipe[1], &byte, 1) < 0) {
    // the pipe is full: the key wait wakes anyway
  }
  errno = saved;
}

void restoreTerminalNow() {
  if (restoreLength > 0 && write(STDOUT_FILENO, restoreText, restoreLength) < 0) {
    // nothing more can be done for a terminal that is gone
  }
  if (haveSavedModes) tcsetattr(STDIN_FILENO, TCSANOW, &savedModes);
}

void onCrashSignal(int signal) {
  restoreTerminalNow();
  for (std::size_t i = 0; i < kCrashSignals.size(); ++i) {
    if (kCrashSignals[i] == signal) sigaction(signal, &previousCrash[i], nullptr);
  }
  raise(signal);  // delivered as this handler returns, to whatever handled it before
}

void appendRestore(char c) {
  if (restoreLength < sizeof restoreText) restoreText[restoreLength++] = c;
}

void prepareRestore() {
  restoreLength = 0;
  for (const char* name : {"sgr0", "op", "cnorm", "rmkx", "rmcup"}) {
    char* text = tigetstr(name);
    if (text == nullptr || text == reinterpret_cast<char*>(-1)) continue;
    for (const char* c = text; *c != '\0'; ++c) {
      if (c[0] == '$' && c[1] == '<') {  // a delay: not needed to put the modes back
        const char* end = std::strchr(c, '>');
        if (end != nullptr) {
          c = end;
          continue;
        }
      }
      appendRestore(*c);
    }
  }
  appendRestore('\r');
  appendRestore('\n');
}

void installHandlers() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = onQuitSignal;
  for (std::size_t i = 0; i < kQuitSignals.size(); ++i)
    sigaction(kQuitSignals[i], &action, &previousQuit[i]);
  action.sa_handler = onCrashSignal;
  for (std::size_t i = 0; i < kCrashSignals.size(); ++i)
    sigaction(kCrashSignals[i], &action, &previousCrash[i]);
}

void removeHandlers() {
  for (std::size_t i = 0; i < kQuitSignals.size(); ++i)
    sigaction(kQuitSignals[i], &previousQuit[i], nullptr);
  for (std::size_t i = 0; i < kCrashSignals.size(); ++i)
    sigaction(kCrashSignals[i], &previousCrash[i], nullptr);
}

TCOD_key_t noKey() {
  TCOD_key_t key{};
  key.vk = TCODK_NONE;
  return key;
}

Rgb rgbOf(const TCODColor& colour) {
  return {colour.r, colour.g, colour.b};
}

// Whether the game can be drawn on a terminal of type `name`: one that terminfo knows and that
// can place the cursor anywhere. Otherwise prints one line naming the cause.
bool canPlayOn(const char* name) {
  if (name == nullptr || *name == '\0') {
    std::fprintf(stderr, "vesperdeep-term: TERM is not set: the terminal's type is unknown\n");
    return false;
  }
  int error = 0;
  if (setupterm(name, STDOUT_FILENO, &error) != OK) {
    std::fprintf(stderr, "vesperdeep-term: unknown terminal type TERM=%s (no terminfo entry)\n",
                 name);
    return false;
  }
  const char* move = tigetstr("cup");
  const bool addressable = move != nullptr && move != reinterpret_cast<char*>(-1) &&
                           tigetflag("hc") <= 0 && tigetflag("gn") <= 0;
  del_curterm(cur_term);
  if (!addressable) {
    std::fprintf(stderr,
                 "vesperdeep-term: the terminal TERM=%s cannot place its cursor; set TERM to "
                 "its real type, such as xterm-256color\n",
                 name);
  }
  return addressable;
}

// The keypad's keys in application mode, which ncurses would name as the corners, centre and
// Enter only where terminfo lists them: undefined, every one of them arrives as its own SS3
// sequence and is read the same way on every terminal (gameKeys).
void readKeypadRaw() {
  for (const char* name : {"ka1", "ka2", "ka3", "kb1", "kb2", "kb3", "kc1", "kc2", "kc3", "kent"}) {
    const char* sequence = tigetstr(name);
    if (sequence == nullptr || sequence == reinterpret_cast<char*>(-1)) continue;
    if (std::strncmp(sequence, "\033O", 2) == 0) define_key(sequence, 0);
  }
}

SCREEN* screen = nullptr;

}  // namespace

wchar_t cellGlyph(int code, bool unicode) {
  if (unicode) {
    const auto point = static_cast<wchar_t>(cp437::unicode(code));
    if (wcwidth(point) == 1) return point;
  }
  return static_cast<wchar_t>(cp437::ascii(code));
}

Session::~Session() {
  close();
}

bool Session::open() {
  if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) {
    std::fprintf(stderr, "vesperdeep-term: standard input and output must be a terminal\n");
    return false;
  }
  std::setlocale(LC_ALL, "");
  unicode = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  for (int code = 0; code < 256; ++code)
    glyphs[static_cast<std::size_t>(code)] = cellGlyph(code, unicode);

  if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "vesperdeep-term: cannot make a pipe: %s\n", std::strerror(errno));
    return false;
  }
  haveSavedModes = tcgetattr(STDIN_FILENO, &savedModes) == 0;
  const char* name = std::getenv("TERM");
  if (!canPlayOn(name)) {
    close();
    return false;
  }
  // The terminal's real size, whatever LINES and COLUMNS in the environment say (a shell that
  // set them for another window, or a user): ncurses would believe them over the terminal.
  unsetenv("LINES");
  unsetenv("COLUMNS");
  screen = newterm(name, stdout, stdin);
  if (screen == nullptr) {
    std::fprintf(stderr, "vesperdeep-term: cannot start the terminal TERM=%s\n", name);
    close();
    return false;
  }
  isOpen = true;
  set_escdelay(25);  // Escape alone acts at once; a key's escape sequence arrives within this
  cbreak();
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  keypad(stdscr, TRUE);
  readKeypadRaw();
  meta(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  curs_set(0);
  if (has_colors() && start_color() == OK) {
    colourDepth = depthFor(COLORS, tigetflag("RGB") > 0);
  }
  prepareRestore();
  installHandlers();
  resized();
  return true;
}

void Session::close() {
  if (isOpen) {
    isOpen = false;
    removeHandlers();
    curs_set(1);
    endwin();
    delscreen(screen);
    screen = nullptr;
    restoreLength = 0;
  }
  for (int& end : wakePipe) {
    if (end >= 0) ::close(end);
    end = -1;
  }
  haveSavedModes = false;
}

void Session::flushed() {
  pending = true;
  if (tooSmall || !pacer.due(TCODConsole::getFade())) {
    ++held;  // sent when the game waits for a key, or with a later flush
    return;
  }
  present();
}

void Session::present() {
  if (!pending || tooSmall || !isOpen) return;
  const auto start = display::FramePacer::Clock::now();
  draw();
  doupdate();
  pending = false;
  ++sent;
  pacer.sent(start);
}

void Session::draw() {
  const TCODConsole& root = *TCODConsole::root;
  const int fade = TCODConsole::getFade();
  const Rgb fadeTo = rgbOf(TCODConsole::getFadingColor());
  const int left = (COLS - kWidth) / 2;
  const int top = (LINES - kHeight) / 2;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const int code = root.getChar(x, y);
      wchar_t text[2] = {glyphs[static_cast<std::size_t>(code & 0xFF)], 0};
      int pair = 0;
      if (colourDepth != Depth::None) {
        const Rgb fg = faded(rgbOf(root.getCharForeground(x, y)), fadeTo, fade);
        const Rgb bg = faded(rgbOf(root.getCharBackground(x, y)), fadeTo, fade);
        pair = alloc_pair(colourNumber(colourDepth, fg), colourNumber(colourDepth, bg));
        if (pair < 0) pair = 0;
      }
      cchar_t cell;
      setcchar(&cell, text, A_NORMAL, 0, &pair);
      mvwadd_wch(stdscr, top + y, left + x, &cell);
    }
  }
  wnoutrefresh(stdscr);
}

void Session::resized() {
  tooSmall = LINES < kHeight || COLS < kWidth;
  werase(stdscr);
  clearok(curscr, TRUE);
  if (tooSmall) {
    const int length = static_cast<int>(std::strlen(kTooSmall));
    const int shown = length < COLS ? length : COLS;
    mvwaddnstr(stdscr, LINES / 2, (COLS - shown) / 2, kTooSmall, shown);
    wrefresh(stdscr);
    return;
  }
  pending = TCODConsole::root != nullptr;
  present();
}

void Session::readKeys() {
  std::vector<TerminalKey> input;
  while (input.size() < kReadAtOnce) {  // a flood of input is read a slice at a time
    wint_t ch = 0;
    const int got = wget_wch(stdscr, &ch);
    if (got == ERR) break;
    idleWakeups = 0;
    if (got == KEY_CODE_YES && ch == KEY_RESIZE) {
      resized();
      continue;
    }
    input.push_back({static_cast<std::uint32_t>(ch), got == KEY_CODE_YES});
  }
  bool dropped = false;
  for (const TCOD_key_t& key : gameKeys(input)) {
    if (keys.size() < kKeyQueueLimit) {
      keys.push_back(key);
    } else {
      dropped = true;
    }
  }
  if (dropped) beep();  // typed far ahead of the game: the player hears what is lost
}

bool Session::waitForInput() {
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
  const int ready = poll(fds, 2, -1);
  if (ready < 0) return errno == EINTR;  // a signal: SIGWINCH is read as a resize key
  if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return false;
  if ((fds[1].revents & POLLIN) != 0) {
    char drained[16];
    while (read(wakePipe[0], drained, sizeof drained) > 0) {
    }
  }
  if ((fds[0].revents & POLLIN) != 0 && ++idleWakeups > kIdleWakeupsAtEnd) return false;
  return true;
}

TCOD_key_t Session::nextKey() {
  for (;;) {
    if (quitSignal != 0 || ended) break;
    readKeys();
    // The game waits with no key typed ahead: whatever it drew last is shown now. Keys typed
    // ahead (a paste) are played without a frame each; the last frame is shown when they run out.
    if (keys.empty() || tooSmall) present();
    if (!tooSmall && !keys.empty()) {
      const TCOD_key_t key = keys.front();
      keys.pop_front();
      return key;
    }
    if (!waitForInput()) ended = true;
  }
  keyboard::closeWindow();
  return noKey();
}

int play(std::optional<std::uint32_t> partition, const std::function<void(App&)>& beforeKey,
         const std::string& recordTo) {
  try {
    // libtcod keeps the console without a window: the terminal shows it.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    fontsheet::setProgramName("vesperdeep-term");
    App app(App::Window::Unseen);
    if (!app.started) return 1;  // no font sheet; the reason has been printed
    // A recorded game always has a partition: drawn here when none was given.
    if (!recordTo.empty() && !partition) partition = std::random_device()();
    if (partition) {
      // libtcod's default generator, which splits every new cave, as a fresh TCODRandom(N)
      const TCODRandom fresh(*partition);
      TCODRandom::getInstance()->restore(&fresh);
    }
    std::optional<Recorder> recorder;
    if (!recordTo.empty()) {
      recorder.emplace(recordTo, *partition);
      if (!recorder->ok()) {
        std::fprintf(stderr, "vesperdeep-term: %s\n", recorder->error().c_str());
        return 1;
      }
    }
    Session session;
    if (!session.open()) return 1;
    display::setPresenter([&session] { session.flushed(); }, true);
    keyboard::setKeySource([&] {
      if (beforeKey) beforeKey(app);
      if (recorder) recorder->waiting(app);
      const TCOD_key_t key = session.nextKey();
      if (recorder) recorder->read(key);
      return key;
    });
    app.run();
    keyboard::setKeySource(nullptr);
    display::setPresenter(nullptr);
    session.close();
    if (recorder && !recorder->finish()) {
      std::fprintf(stderr, "vesperdeep-term: %s\n", recorder->error().c_str());
      return 1;
    }
    return 0;
  } catch (const std::exception& error) {
    keyboard::setKeySource(nullptr);
    display::setPresenter(nullptr);
    std::fprintf(stderr, "vesperdeep-term: %s\n", error.what());
    return 1;
  }
}

}  // namespace terminal

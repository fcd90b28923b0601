// vesperdeep-driver: plays the real game without a player.
//
// Keys come from a key script or from a seeded random generator; after every key the driver
// checks the game's invariants and can record the state (as text and as a hash); at the end it
// writes the screen as text. See docs/testing.md ("Reporting a bug"), docs/state.md and --help.

#include <libtcod.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "App.hpp"
#include "Display.hpp"
#include "Game.hpp"
#include "Invariants.hpp"
#include "Keyboard.hpp"
#include "Keys.hpp"
#include "Player.hpp"
#include "RandDraws.hpp"
#include "Recording.hpp"
#include "Scenario.hpp"
#include "Screen.hpp"
#include "State.hpp"
#include "Tool.hpp"

namespace {

using namespace harness;

constexpr std::string_view kProgram = "vesperdeep-driver";
constexpr int kEscapesToEnd = 16;  // more than any chain of screens needs
constexpr std::size_t kKeysInReport = 40;
constexpr int kExitNotReplayed = 5;  // a recording's game ended otherwise than it says

const char* const kUsage = R"(usage: vesperdeep-driver [options]
Plays Vesperdeep headless (SDL's dummy video driver unless SDL_VIDEODRIVER is set).

Keys (one of):
  --recording FILE  a game's recording (docs/recordings.md): its partition and its keys; a
                    recording that cannot replay exactly is refused (exit 64), and a finished
                    one must come to its recorded turns and kills (exit 5 when not)
  --script FILE     keys from a key script: characters are the keys that type them, other
                    keys in angle brackets (<Esc> <Up> <Down> <Left> <Right> <Home> <End>
                    <PgUp> <PgDn> <Enter> <Tab> <Backspace> <Del> <Ins> <Space> <F1>..<F12>
                    <KP0>..<KP9> <None> <lt> <S-x> <#vk,c,flags>); line breaks are ignored,
                    lines starting with '#' are comments
  --fuzz SEED       random keys from a generator seeded with SEED
    --keys N        how many random keys (default 10000)
    --games N       play at least N games: each game gets at most keys/games keys, then
                    the driver ends it with Escape and starts the next

Game:
  --partition N     libtcod's cave partition seed (default 0)
  --kills N         every game starts with N kills counted (story shortcut: the note
                    comes with the 35th turn once N > 30)
  --no-flush        never present the console (full speed; the screen text is unchanged)

Outputs, written when the keys run out (before the driver ends the game with Escape):
  --screen FILE     the screen as 50 lines of 80 characters (UTF-8)
  --colours FILE    the colours of every cell
  --hashes FILE     one line per key the game read: game, key, turn, mode, state hash
  --state FILE      the whole state of the game as text, one fact per line
  --states FILE     the state after every key the game read, as a catalog: the first in
                    full, then the facts that changed ("(gone) NAME" for one that went)
  --record FILE     every key the driver fed, as a key script
  --screens FILE    every screen the game waited on, one line each: per cell its glyph code,
                    foreground and background as hex "GGRRGGBBRRGGBB", cells in row order

Checks:
  --watchdog MS     fail (exit 3) when one key takes longer than MS ms (default 1000, and
                    30000 with --recording, whose game may end in the story's fade; 0: off)
  --then-keyboard   when the script runs out, wait for real keys (and window close / SIGTERM)
                    instead of ending the game with Escape

Exit status: 0 done, 1 no font sheet, 2 broken invariant, 3 a key hung, 4 Escape did not end
the game, 5 a recording did not replay to its end, 64 bad arguments or a refused recording.
)";

struct Options {
  std::string script;
  std::optional<recording::Recording> recorded;  // --recording
  bool fuzz = false;
  std::uint64_t fuzzSeed = 0;
  long long keys = 10000;
  long long games = 0;
  std::uint32_t partition = 0;
  int kills = -1;
  bool noFlush = false;
  std::string screenFile;
  std::string coloursFile;
  std::string hashesFile;
  std::string stateFile;
  std::string statesFile;
  std::string recordFile;
  std::string screensFile;
  int watchdogMs = -1;  // not given: kWatchdogMs, or kReplayWatchdogMs for a recording
  bool thenKeyboard = false;
};

// A key taking longer than this is a hang. A recorded game that reached the end screen has its
// closing key run the whole fade, which takes seconds when the console is presented.
constexpr int kWatchdogMs = 1000;
constexpr int kReplayWatchdogMs = 30000;

[[noreturn]] void usageError(const std::string& why) {
  harness::usageError(kProgram, why);
}

// The recording in `name`; one line and exit status 64 when it cannot replay exactly.
recording::Recording loadRecording(const std::string& name) {
  recording::Loaded loaded = recording::load(name);
  if (!loaded.recording) {
    std::cerr << kProgram << ": " << loaded.error << '\n';
    std::exit(kExitUsage);
  }
  return *loaded.recording;
}

// Reads the current option of `line` if it chooses the keys or the game; false otherwise.
bool parseInputOption(CommandLine& line, Options& options) {
  if (line.is("--script")) {
    options.script = line.text();
  } else if (line.is("--recording")) {
    options.recorded = loadRecording(line.text());
  } else if (line.is("--fuzz")) {
    options.fuzz = true;
    options.fuzzSeed = static_cast<std::uint64_t>(line.number(0, INT64_MAX));
  } else if (line.is("--keys")) {
    options.keys = line.number(1, INT64_MAX);
  } else if (line.is("--games")) {
    options.games = line.number(1, INT64_MAX);
  } else if (line.is("--partition")) {
    options.partition = static_cast<std::uint32_t>(line.number(0, UINT32_MAX));
  } else if (line.is("--kills")) {
    options.kills = static_cast<int>(line.number(0, 1000000));
  } else if (line.is("--no-flush")) {
    options.noFlush = true;
  } else {
    return false;
  }
  return true;
}

// Reads the current option of `line` if it names an output or a check; false otherwise.
bool parseOutputOption(CommandLine& line, Options& options) {
  const std::pair<const char*, std::string*> files[] = {
      {"--screen", &options.screenFile},   {"--colours", &options.coloursFile},
      {"--hashes", &options.hashesFile},   {"--state", &options.stateFile},
      {"--states", &options.statesFile},   {"--record", &options.recordFile},
      {"--screens", &options.screensFile},
  };
  for (const auto& [name, file] : files) {
    if (!line.is(name)) continue;
    *file = line.text();
    return true;
  }
  if (line.is("--watchdog")) {
    options.watchdogMs = static_cast<int>(line.number(0, 3600000));
  } else if (line.is("--then-keyboard")) {
    options.thenKeyboard = true;
  } else {
    return false;
  }
  return true;
}

Options parseOptions(int argc, char** argv) {
  Options options;
  CommandLine line(kProgram, kUsage, argc, argv);
  while (line.next()) {
    if (!parseInputOption(line, options) && !parseOutputOption(line, options)) line.unknown();
  }
  if (options.fuzz + !options.script.empty() + options.recorded.has_value() != 1)
    usageError("give one of --recording FILE, --script FILE and --fuzz SEED");
  if (options.recorded) options.partition = options.recorded->partition;
  if (options.watchdogMs < 0)
    options.watchdogMs = options.recorded ? kReplayWatchdogMs : kWatchdogMs;
  if (options.thenKeyboard && options.fuzz) usageError("--then-keyboard goes with --script");
  if (!options.fuzz && options.games != 0) usageError("--games goes with --fuzz");
  return options;
}

std::string readFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) usageError("cannot read " + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& name, const std::string& text) {
  if (name.empty()) return;
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) std::cerr << "vesperdeep-driver: cannot write " << name << '\n';
}

// ---- The watchdog ----------------------------------------------------------------------------

// Fails the run when the game spends too long on one key: the time from handing a key to the
// game until the game asks for the next one.
class Watchdog {
 public:
  explicit Watchdog(int limitMs) : limitMs(limitMs) {
    if (limitMs > 0) thread = std::thread([this] { watch(); });
  }
  ~Watchdog() {
    stopping = true;
    if (thread.joinable()) thread.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // The game now works on key number `index` (0 before the first key: starting up).
  void busy(long long index, const TCOD_key_t& key) {
    keyIndex = index;
    keyCode = static_cast<int>(key.vk) * 256 + static_cast<unsigned char>(key.c);
    since = now();
  }
  // The game waits for a key (or the driver itself is working).
  void idle() { since = kIdle; }

 private:
  static constexpr std::int64_t kIdle = -1;

  static std::int64_t now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  void watch() {
    while (!stopping) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const std::int64_t start = since;
      if (start == kIdle || now() - start <= limitMs) continue;
      const long long index = keyIndex;
      const int code = keyCode;
      std::fprintf(stderr,
                   "vesperdeep-driver: HANG: key #%lld (vk %d, c %d) has been running for over "
                   "%d ms\n",
                   index, code / 256, code % 256, limitMs);
      std::fflush(stderr);
      std::_Exit(kExitHang);
    }
  }

  const int limitMs;
  std::atomic<bool> stopping{false};
  std::atomic<std::int64_t> since{now()};
  std::atomic<long long> keyIndex{0};
  std::atomic<int> keyCode{0};
  std::thread thread;
};

// ---- The driver ------------------------------------------------------------------------------

class Driver {
 public:
  Driver(App& app, const Options& options, Watchdog& watchdog)
      : app(app), options(options), watchdog(watchdog), fuzzer(options.fuzzSeed) {
    if (!options.script.empty()) readScript(options.script, readFile(options.script));
    if (options.recorded) readScript("the recording", options.recorded->script());
    if (options.fuzz) {
      const long long games = options.games > 0 ? options.games : 1;
      gameBudget = (options.keys + games - 1) / games;
      std::cout << "vesperdeep-driver: fuzz seed " << options.fuzzSeed << ", " << options.keys
                << " keys, at most " << gameBudget << " per game, partition " << options.partition
                << std::endl;
    }
    openForWriting(screens, options.screensFile);
    openForWriting(hashes, options.hashesFile);
    openForWriting(states, options.statesFile);
  }

  // The keys of `script` (named `name` in a refusal) are the keys to play.
  void readScript(const std::string& name, const std::string& script) {
    try {
      const std::vector<TCOD_key_t> parsed = parseKeyScript(script);
      scripted.assign(parsed.begin(), parsed.end());
    } catch (const std::invalid_argument& error) {
      usageError(name + ": " + error.what());
    }
  }

  // The key source of the game: called whenever the game (or the title screen) waits.
  TCOD_key_t nextKey() {
    watchdog.idle();
    observe();
    if (screens.is_open() && !keysRanOut) writeScreenCells();
    const TCOD_key_t key = chooseKey();
    ++keysFed;
    if (!options.recordFile.empty()) recorded += describeKey(key);
    recent.push_back(key);
    if (recent.size() > kKeysInReport) recent.pop_front();
    watchdog.busy(keysFed, key);
    return key;
  }

  // After App::run has returned.
  void finish() {
    watchdog.idle();
    if (!outputsWritten) writeOutputs();
    if (!scripted.empty()) {
      std::cout << "vesperdeep-driver: the program ended with " << scripted.size()
                << " keys of the script unread" << std::endl;
    }
    std::cout << "vesperdeep-driver: " << keysFed << " keys (" << randomKeys << " random), "
              << gamesStarted << " games, " << turnsSeen << " turns, " << checks
              << " invariant checks passed" << (closedByKeyboard ? ", window closed" : "")
              << std::endl;
    std::cout << "vesperdeep-driver: keys read per screen: normal " << keysInMode[Normal]
              << ", inventory " << keysInMode[Inventory] << ", drop " << keysInMode[Drop]
              << ", note " << keysInMode[Note] << ", end screen " << keysInMode[EndScreen]
              << ", after death " << keysAfterDeath << "; deaths " << deaths << ", notes found "
              << notesFound << std::endl;
  }

 private:
  static void openForWriting(std::ofstream& file, const std::string& name) {
    if (name.empty()) return;
    file.open(name, std::ios::binary | std::ios::trunc);
    if (!file) usageError("cannot write " + name);
  }

  // Looks at the game after the last key: a new game, the invariants, the recorded state.
  void observe() {
    Game* game = app.game.get();
    if (game != currentGame) {
      currentGame = game;
      if (game != nullptr) startCounting(*game);
    }
    if (game == nullptr) return;
    const std::string broken = checkInvariants(*game);
    if (!broken.empty()) failInvariant(*game, broken);
    ++checks;
    countScreen(*game);
    lastKills = game->killCount;
    if (game->turnCount != lastTurn) {
      turnsSeen += game->turnCount - lastTurn;
      lastTurn = game->turnCount;
    }
    if (!keysRanOut) recordState(*game);
  }

  // A new game has begun.
  void startCounting(Game& game) {
    ++gamesStarted;
    keysThisGame = 0;
    lastTurn = 0;
    deathCounted = false;
    noteCounted = false;
    if (options.kills >= 0) game.killCount = options.kills;
  }

  // The state hash line and the state catalog's entry for the key just read.
  void recordState(const Game& game) {
    char header[96];
    std::snprintf(header, sizeof header, "game %lld key %lld turn %d mode %d", gamesStarted,
                  keysFed, game.turnCount, static_cast<int>(game.mode));
    if (hashes.is_open()) {
      char hash[24];
      std::snprintf(hash, sizeof hash, " hash %016llx\n",
                    static_cast<unsigned long long>(stateHash(game)));
      hashes << header << hash;
    }
    if (states.is_open()) states << catalog.add(header, stateText(game, randDraws()));
  }

  // What the game was showing when it asked for a key, for the summary.
  void countScreen(const Game& game) {
    if (game.player->dead) {
      if (!deathCounted) ++deaths;
      deathCounted = true;
      ++keysAfterDeath;
    } else if (game.mode >= Normal && game.mode <= EndScreen) {
      ++keysInMode[game.mode];
    }
    if (game.storyStage == 6 && !noteCounted) {
      noteCounted = true;
      ++notesFound;
    }
  }

  TCOD_key_t chooseKey() {
    if (!keysRanOut && !outOfKeys()) {
      if (options.fuzz) return randomKey();
      const TCOD_key_t key = scripted.front();
      scripted.pop_front();
      return key;
    }
    if (!keysRanOut) {
      keysRanOut = true;
      writeOutputs();
      if (options.thenKeyboard) {
        std::cout << "vesperdeep-driver: script done; waiting for the keyboard" << std::endl;
      }
    }
    if (options.thenKeyboard) return realKey();
    return endingEscape();
  }

  bool outOfKeys() const { return options.fuzz ? randomKeys >= options.keys : scripted.empty(); }

  // A random key; a game that has had its share is ended with Escape first.
  TCOD_key_t randomKey() {
    if (app.game == nullptr) {
      ++randomKeys;
      escapesInARow = 0;
      return fuzzer.nextNotEscape();  // Escape here would end the whole run
    }
    if (keysThisGame >= gameBudget) return endingEscape();
    ++randomKeys;
    ++keysThisGame;
    escapesInARow = 0;
    const Game& game = *app.game;
    if (game.player->dead || game.mode == EndScreen) return fuzzer.nextAfterTheEnd();
    if (game.mode != Normal) return fuzzer.nextInMenu();
    return fuzzer.next();
  }

  // Escape, pressed by the driver to end a game (and at last the program).
  TCOD_key_t endingEscape() {
    if (++escapesInARow > kEscapesToEnd) {
      std::cerr << "vesperdeep-driver: the game did not end after " << kEscapesToEnd
                << " Escapes (game " << gamesStarted << ")\n";
      printRecentKeys();
      std::_Exit(kExitNoEnd);
    }
    return plainKey(TCODK_ESCAPE);
  }

  // The real keyboard's next key (a closed window or SIGTERM gives TCODK_NONE).
  // The source is switched off only for the length of the wait (this runs inside the source's
  // own call, which touches nothing of the source object after this returns).
  TCOD_key_t realKey() {
    keyboard::setKeySource(nullptr);
    watchdog.idle();  // waiting for a person is no hang
    const TCOD_key_t key = keyboard::waitForKeypress();
    keyboard::setKeySource([this] { return nextKey(); });
    if (key.vk == TCODK_NONE && TCODConsole::isWindowClosed()) {
      closedByKeyboard = true;
      const Game* game = app.game.get();
      std::cout << "vesperdeep-driver: the window was closed";
      if (game != nullptr) {
        std::cout << " at turn " << game->turnCount << ", mode " << static_cast<int>(game->mode)
                  << (game->player->dead ? ", player dead" : "");
      } else {
        std::cout << " on the title screen";
      }
      std::cout << std::endl;
    }
    return key;
  }

  // The root console's cells as one --screens line.
  void writeScreenCells() {
    const TCODConsole& root = *TCODConsole::root;
    char cell[16];
    for (int y = 0; y < root.getHeight(); ++y) {
      for (int x = 0; x < root.getWidth(); ++x) {
        const TCODColor fg = root.getCharForeground(x, y);
        const TCODColor bg = root.getCharBackground(x, y);
        std::snprintf(cell, sizeof cell, "%02x%02x%02x%02x%02x%02x%02x", root.getChar(x, y) & 0xFF,
                      fg.r, fg.g, fg.b, bg.r, bg.g, bg.b);
        screens << cell;
      }
    }
    screens << '\n';
  }

  // A finished recording's game must come to the turns and kills its end line gives.
  void confirmRecording() const {
    if (!options.recorded || options.recorded->summary.ending == recording::Ending::Abnormal)
      return;
    const recording::Summary& said = options.recorded->summary;
    std::cout << "vesperdeep-driver: the recording says " << recording::endingName(said.ending)
              << " at turn " << said.turns << " with " << said.kills << " kills; replayed: turn "
              << lastTurn << ", " << lastKills << " kills" << std::endl;
    if (said.turns != lastTurn || said.kills != lastKills) {
      std::cerr << "vesperdeep-driver: the recording did not replay to its end\n";
      std::_Exit(kExitNotReplayed);
    }
  }

  void writeOutputs() {
    outputsWritten = true;
    confirmRecording();
    if (!options.screenFile.empty()) writeFile(options.screenFile, screenUtf8());
    if (!options.coloursFile.empty()) writeFile(options.coloursFile, screenColours());
    if (!options.recordFile.empty()) writeFile(options.recordFile, recorded + "\n");
    if (!options.stateFile.empty()) {
      const Game* game = app.game.get();
      writeFile(options.stateFile, game != nullptr ? stateText(*game, randDraws()) : "");
    }
    if (hashes.is_open()) hashes.flush();
    if (states.is_open()) states.flush();
  }

  void printRecentKeys() const {
    std::string keys;
    for (const TCOD_key_t& key : recent)
      keys += describeKey(key);
    std::cerr << "last keys (oldest first): " << keys << '\n';
  }

  [[noreturn]] void failInvariant(const Game& game, const std::string& broken) {
    std::cerr << "vesperdeep-driver: INVARIANT BROKEN after key #" << keysFed << " in game "
              << gamesStarted << ", turn " << game.turnCount << ", mode "
              << static_cast<int>(game.mode) << ":\n"
              << broken;
    printRecentKeys();
    if (options.fuzz) {
      std::cerr << "replay: vesperdeep-driver --fuzz " << options.fuzzSeed << " --keys "
                << options.keys << " --games " << (options.games > 0 ? options.games : 1)
                << " --partition " << options.partition << '\n';
    }
    writeOutputs();
    std::cerr.flush();
    std::_Exit(kExitBroken);  // the game is broken: do not tear it down
  }

  App& app;
  const Options& options;
  Watchdog& watchdog;
  KeyFuzzer fuzzer;
  std::deque<TCOD_key_t> scripted;
  std::ofstream hashes;
  std::ofstream states;
  StateCatalog catalog;
  std::ofstream screens;
  std::string recorded;
  std::deque<TCOD_key_t> recent;

  const Game* currentGame = nullptr;
  long long gameBudget = 0;
  long long keysFed = 0;
  long long randomKeys = 0;
  long long keysThisGame = 0;
  long long gamesStarted = 0;
  long long turnsSeen = 0;
  long long checks = 0;
  long long keysInMode[EndScreen + 1] = {};
  long long keysAfterDeath = 0;
  long long deaths = 0;
  long long notesFound = 0;
  bool deathCounted = false;
  bool noteCounted = false;
  int lastTurn = 0;
  int lastKills = 0;
  int escapesInARow = 0;
  bool keysRanOut = false;
  bool outputsWritten = false;
  bool closedByKeyboard = false;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  preferHeadlessDrivers();

  Watchdog watchdog(options.watchdogMs);
  {
    App app;
    if (!app.started) return kExitFailed;  // no usable font sheet; the reason has been printed
    fixPartition(options.partition);
    display::setPresenting(!options.noFlush);
    Driver driver(app, options, watchdog);
    keyboard::setKeySource([&driver] { return driver.nextKey(); });
    app.run();
    keyboard::setKeySource(nullptr);
    driver.finish();
  }
  watchdog.idle();
  return kExitDone;
}

#include "BotGame.hpp"

#include <cstdlib>
#include <ostream>
#include <sstream>
#include <vector>

#include "App.hpp"
#include "Autoplayer.hpp"
#include "Display.hpp"
#include "Game.hpp"
#include "Invariants.hpp"
#include "Keyboard.hpp"
#include "Keys.hpp"
#include "Map.hpp"
#include "MessageLog.hpp"
#include "Player.hpp"
#include "Scenario.hpp"
#include "Tool.hpp"

namespace {

using namespace harness;

constexpr int kEscapesToLeave = 16;  // more than any chain of screens needs

// The name of the creature in the newest line of the log that hurt the player.
std::string lastAttacker(const MessageLog& log) {
  static const std::string kThe = "The ";
  static const std::string kHitsYou = " hits you for ";
  for (const MessageLog::Entry& entry : log.entries()) {
    const std::string& text = entry.text;
    const std::size_t hit = text.find(kHitsYou);
    if (text.rfind(kThe, 0) != 0 || hit == std::string::npos) continue;
    if (text.find("no damage", hit) != std::string::npos) continue;
    return text.substr(kThe.size(), hit - kThe.size());
  }
  return "something unseen";
}

// The whole level as text, explored or not, with every creature on it: for traces, so that a
// reader can see what the bot could not.
std::string levelText(const Game& game) {
  const Map& map = *game.map;
  std::string text;
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      const Tile& tile = map.tileAt(x, y);
      char c = tile.kind == Wall           ? '#'
               : tile.kind == Water        ? '~'
               : tile.kind == ShallowWater ? ','
                                           : '.';
      if (const Entity* top = tile.topEntity()) c = static_cast<char>(top->glyph);
      if (!tile.explored && c == '.') c = ' ';
      text += c;
    }
    text += '\n';
  }
  return text;
}

// The keys the bot may press: the game's keys (its key table) but the one that hands out free
// bat meat, the letters of the menus and Escape, which leaves them.
bool isPlayersKey(const TCOD_key_t& key) {
  if (key.vk == TCODK_ESCAPE) return true;
  if (key.vk == TCODK_CHAR && key.c >= 'a' && key.c <= 'z') return true;
  const Action action = harness::actionOf(key);
  return action != Action::None && action != Action::GiveBatMeat;
}

// Stands between the game and the Autoplayer: watches the game after every key and decides
// when it is over.
class Referee {
 public:
  Referee(App& app, std::uint32_t partition, const PlayLimits& limits, const ReportSink& sink,
          std::ostream* trace, const KeySink& keys)
      : app(app), limits(limits), sink(sink), trace(trace), keys(keys) {
    report.partition = partition;
  }

  // The next key, handed to the key sink on its way to the game.
  TCOD_key_t nextKey() {
    const TCOD_key_t key = choose();
    if (keys) keys(key);
    return key;
  }

  const GameReport& result() const { return report; }

 private:
  TCOD_key_t choose() {
    ++report.keys;
    if (app.game == nullptr) {
      if (started) return leave();  // back on the title screen: the run is over
      started = true;
      return plainKey(TCODK_SPACE);
    }
    const Game& game = *app.game;
    if (!over) judge(game);
    if (over) return leave();
    const TCOD_key_t key = bot.nextKey(game);
    if (!isPlayersKey(key)) {
      end(Ending::BadKey, describeKey(key));
      return leave();
    }
    if (trace != nullptr && game.turnCount % 100 == 0 && game.turnCount != lastLevelShown) {
      lastLevelShown = game.turnCount;
      *trace << levelText(game);
    }
    if (trace != nullptr) {
      *trace << "turn " << game.turnCount << " hp " << game.player->hp << '/' << game.player->maxHp
             << " hunger " << game.player->hunger << " kills " << game.killCount << " at "
             << game.player->x << ',' << game.player->y << " mode " << static_cast<int>(game.mode)
             << " key " << describeKey(key) << "  " << bot.intent() << '\n';
    }
    return key;
  }

  void judge(const Game& game) {
    report.turns = game.turnCount;
    report.kills = game.killCount;
    if (const std::string broken = checkInvariants(game); !broken.empty()) {
      end(Ending::Invariant, broken);
      std::_Exit(kExitBroken);  // a broken game is not torn down
    }
    if (game.mode == EndScreen) return end(Ending::EndScreen, "");
    if (game.player->dead) {
      if (game.player->hunger >= Player::kStarvation) return end(Ending::Starved, "");
      return end(Ending::Killed, lastAttacker(game.messageLog));
    }
    keysWithoutTurn = game.turnCount == lastTurn ? keysWithoutTurn + 1 : 0;
    lastTurn = game.turnCount;
    if (keysWithoutTurn > limits.keysWithoutTurn) {
      return end(Ending::Stuck, "no turn passed in " + std::to_string(keysWithoutTurn) + " keys");
    }
    if (report.keys > limits.keyBudget) {
      return end(Ending::Stuck, "key budget of " + std::to_string(limits.keyBudget) + " spent");
    }
  }

  void end(Ending ending, const std::string& detail) {
    over = true;
    report.ending = ending;
    report.detail = detail;
    if (sink) sink(report);
  }

  // Escape until the game and then the program are left.
  TCOD_key_t leave() {
    if (++escapes > kEscapesToLeave && !over) end(Ending::Stuck, "Escape did not end the game");
    if (escapes > 2 * kEscapesToLeave) std::_Exit(kExitNoEnd);  // the game will not let go
    return plainKey(TCODK_ESCAPE);
  }

  App& app;
  const PlayLimits& limits;
  const ReportSink& sink;
  std::ostream* trace;
  const KeySink& keys;
  Autoplayer bot;
  GameReport report;
  bool started = false;
  bool over = false;
  int lastTurn = 0;
  int keysWithoutTurn = 0;
  int escapes = 0;
  int lastLevelShown = -1;
};

}  // namespace

GameReport playGame(std::uint32_t partition, const PlayLimits& limits, const ReportSink& sink,
                    std::ostream* trace, const KeySink& keys) {
  GameReport report;
  report.partition = partition;
  App app;
  if (!app.started) {
    report.ending = Ending::NoWindow;
    report.detail = "the font sheet could not be loaded";
    if (sink) sink(report);
    return report;
  }
  fixPartition(partition);
  display::setPresenting(false);
  Referee referee(app, partition, limits, sink, trace, keys);
  keyboard::setKeySource([&referee] { return referee.nextKey(); });
  app.run();
  keyboard::setKeySource(nullptr);
  return referee.result();
}

std::string describeEnding(const GameReport& report) {
  switch (report.ending) {
    case Ending::EndScreen:
      return "end screen";
    case Ending::Killed:
      return "killed by a " + report.detail;
    case Ending::Starved:
      return "starvation";
    case Ending::Stuck:
      return "stuck (" + report.detail + ")";
    case Ending::Invariant:
      return "invariant";
    case Ending::NoWindow:
      return "no window";
    case Ending::BadKey:
      return "bot pressed " + report.detail;
  }
  return "unknown";
}

std::string serialize(const GameReport& report) {
  std::string detail = report.detail;
  for (char& c : detail) {
    if (c == '\t' || c == '\n') c = ' ';
  }
  std::ostringstream line;
  line << report.partition << '\t' << static_cast<int>(report.ending) << '\t' << report.turns
       << '\t' << report.kills << '\t' << report.keys << '\t' << detail;
  return line.str();
}

std::optional<GameReport> deserialize(const std::string& line) {
  std::istringstream in(line);
  GameReport report;
  int ending = 0;
  if (!(in >> report.partition >> ending >> report.turns >> report.kills >> report.keys)) {
    return std::nullopt;
  }
  if (ending < static_cast<int>(Ending::EndScreen) || ending > static_cast<int>(Ending::BadKey)) {
    return std::nullopt;
  }
  report.ending = static_cast<Ending>(ending);
  in.get();  // the tab before the detail
  std::getline(in, report.detail);
  return report;
}

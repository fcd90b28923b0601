#pragma once

#include <libtcod.hpp>

#include <cstdint>
#include <memory>

#include "Map.hpp"
#include "MessageLog.hpp"

class Player;
class Item;

// What a key asks for in normal mode.
enum class Action { None, Quit, GiveBatMeat, Move, Wait, PickUp, OpenInventory, OpenDrop };

struct Command {
  Action action;
  int direction;  // a Direction, for Move
};

// One row of the key table of normal mode: a key and the command it gives.
struct KeyBinding {
  TCOD_keycode_t vk;
  char c;  // for TCODK_CHAR keys
  Command command;
};

// The rows of one of the game's tables, in the table's order.
template <typename Row>
struct TableRows {
  const Row* first;
  const Row* last;  // one past the end
  const Row* begin() const { return first; }
  const Row* end() const { return last; }
};

// The rows of the key table of normal mode, in the order the game looks a key up.
using KeyTable = TableRows<KeyBinding>;

// The key table of normal mode: every key the game answers outside the menu screens.
KeyTable normalKeys();

// The first row of the key table that asks for `action`: '.' for Wait, Escape for Quit, the
// left arrow for Move. A row with vk TCODK_NONE when no key asks for it.
KeyBinding keyFor(Action action);

// The letter key that moves the player in `direction` (a Direction), from the key table: 'h'
// for West. 0 for a number that is no direction.
char moveLetter(int direction);

// One batch of the cave's first inhabitants: `count` creatures, or items, of one kind.
struct PopulationBatch {
  int count;
  bool isItem;
  int kind;          // creature or item kind
  bool redrawAfter;  // draw a new position after each placement
};

// The batches a new cave is populated with, in the order they are placed.
TableRows<PopulationBatch> population();

// Which screen the keyboard and the drawing serve.
enum GameMode : std::int32_t {
  Normal = 0,
  Inventory = 1,
  Drop = 2,
  Note = 3,
  FadeOut = 4,
  EndScreen = 5,
};

// The letter found in the player's pocket after the last milestone, as the note screen shows it.
const char* noteText();
// The one-line credit of the end screen.
const char* creditLine();

// One play, from waking up in the cave until the run ends. Owns the level, the message log,
// the menu console and every registered entity the player does not carry.
class Game {
 public:
  static constexpr int kLevelWidth = 70;
  static constexpr int kLevelHeight = 44;

  // Builds the whole play: log, menu console, level, player at (1, 1), cave, first field of
  // view (radius 3) and the creatures and stones.
  Game();
  // Destroys every entity exactly once, then the level, the menu console and the log.
  virtual ~Game();
  Game(const Game&) = delete;
  Game& operator=(const Game&) = delete;

  // Gives `entity` a free id, enters it into the registry and into its tile's list.
  void registerEntity(Entity* entity);
  // Waits for one key and acts on it; false when the run is over.
  bool update();
  // Draws one frame: the level and the interface, or the fade-out and the end screen.
  void draw();
  // Everything on screen but the level: side panel, ground line, log and menu windows.
  void drawInterface();

  // The story stage after the last milestone, the one that brings the note.
  static constexpr std::int32_t kLastStoryStage = 6;

  std::int32_t storyStage = 0;
  std::int32_t turnCount = 0;
  std::int32_t killCount = 0;
  EntityRegistry registry;
  Player* player = nullptr;  // also in the registry
  std::unique_ptr<Map> map;
  MessageLog messageLog;
  std::unique_ptr<TCODConsole> menuConsole;  // 40 x 30: the window of the menu screens
  GameMode mode = Normal;  // what the next key means and what the next frame shows

 private:
  bool perform(const Command& command);
  void passTurn();
  void advanceStory();
  void removeTheDead();
  void populate();
  void destroyEntities();

  void drawSidePanel();
  void drawCreaturesInView();
  void drawGround();
  void drawEndScreen();
};

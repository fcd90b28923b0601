#include "Game.hpp"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>

#include "Display.hpp"
#include "Item.hpp"
#include "Keyboard.hpp"
#include "NPC.hpp"
#include "Player.hpp"

namespace {

// ---- Keys become commands --------------------------------------------------------------------

// One key per row: the formatter would pack these short rows two to a line.
// clang-format off
constexpr KeyBinding kNormalKeys[] = {
    // key, character, command
    {TCODK_ESCAPE, 0, {Action::Quit, 0}},
    {TCODK_HOME, 0, {Action::GiveBatMeat, 0}},
    {TCODK_LEFT, 0, {Action::Move, West}},
    {TCODK_CHAR, 'h', {Action::Move, West}},
    {TCODK_RIGHT, 0, {Action::Move, East}},
    {TCODK_CHAR, 'l', {Action::Move, East}},
    {TCODK_UP, 0, {Action::Move, North}},
    {TCODK_CHAR, 'k', {Action::Move, North}},
    {TCODK_DOWN, 0, {Action::Move, South}},
    {TCODK_CHAR, 'j', {Action::Move, South}},
    {TCODK_CHAR, 'y', {Action::Move, NorthWest}},
    {TCODK_CHAR, 'u', {Action::Move, NorthEast}},
    {TCODK_CHAR, 'b', {Action::Move, SouthWest}},
    {TCODK_CHAR, 'n', {Action::Move, SouthEast}},
    {TCODK_CHAR, '.', {Action::Wait, 0}},
    {TCODK_CHAR, 'g', {Action::PickUp, 0}},
    {TCODK_CHAR, 'i', {Action::OpenInventory, 0}},
    {TCODK_CHAR, 'd', {Action::OpenDrop, 0}},
};
// clang-format on

Command commandFor(const TCOD_key_t& key) {
  for (const KeyBinding& binding : kNormalKeys) {
    if (binding.vk == key.vk && (key.vk != TCODK_CHAR || binding.c == key.c)) {
      return binding.command;
    }
  }
  return {Action::None, 0};
}

enum class MenuAction { Back, Close, Choose, Nothing };

struct MenuCommand {
  MenuAction action;
  unsigned index;  // for Choose: the inventory position of the letter
};

MenuCommand menuCommandFor(const TCOD_key_t& key) {
  if (key.vk == TCODK_ESCAPE) return {MenuAction::Back, 0};
  if (key.vk != TCODK_CHAR) return {MenuAction::Nothing, 0};
  if (key.c == 'z') return {MenuAction::Close, 0};
  if (key.c < 'a') return {MenuAction::Nothing, 0};  // no letter before "a"
  return {MenuAction::Choose, static_cast<unsigned>(key.c - 'a')};
}

// ---- The story -------------------------------------------------------------------------------

struct Milestone {
  bool byKills;   // counts kills rather than turns
  int threshold;  // given once the count exceeds it
  const char* message;
};

// Indexed by the story stage it leaves.
constexpr Milestone kMilestones[] = {
    // by kills, more than, message
    {false, 3, "You can't remember anything. You hear the flapping of wings."},
    {false, 30, "Slowly, some memories start coming back to you. This cave feels familiar."},
    {true, 5, "You feel stronger."},
    {true, 15, "You feel full of life."},
    {true, 20, "You can feel your primal side taking over. It feels good."},
    {true, 30,
     "You remember why you are in this cave. You pull something out of your pocket. CHECK "
     "INVENTORY"},
};
constexpr int kNoteStage = Game::kLastStoryStage - 1;
static_assert(static_cast<std::size_t>(Game::kLastStoryStage) == std::size(kMilestones),
              "one milestone per story stage; the note comes with the last");

constexpr const char* kWakeUpMessage =
    "You wake up grogilly in a dark cave, alone. Your head is pounding and you can taste blood. "
    "\nYou are hungry.";

constexpr const char* kNoteText =
    "Dear Tamsine,\n"
    "\n"
    " My blackouts are growing longer, and I can no longer tell when I will next be lucid. I "
    "leave you this note so that you learn the truth from me and no one else. I believe that I "
    "have killed a man.\n"
    "\n"
    " Last night I woke up with blood under my fingernails, and it was not the first time. There "
    "is a darker side of me that I cannot control and I cannot live with it. By the time you find "
    "this note I'll be dead. \n"
    "\n"
    " I have found a secluded cave high on the mountain, where I can trap myself. It is best that "
    "I die here, alone.\n"
    "\n"
    "Love,\n"
    "Corin";

constexpr const char* kCredit = "Vesperdeep - written and drawn by its own small crew";

// ---- The cave's first inhabitants ------------------------------------------------------------

// Placed in this order. One batch per row: the formatter would pack these short rows.
// clang-format off
constexpr PopulationBatch kPopulation[] = {
    // count, item?, kind, new position after each
    {26, false, Bat, false},
    {2, true, SmallStone, true},
    {2, false, Bear, true},
    {1, false, Kitten, true},
    {5, false, Snake, true},
};
// clang-format on

// ---- Screen layout ---------------------------------------------------------------------------

constexpr int kPanelX = 70;
constexpr int kPanelWidth = 10;
constexpr int kPanelHeight = 45;
constexpr int kCreatureListTop = 8;
constexpr int kGroundX = 42;
constexpr int kGroundY = 44;
constexpr int kGroundWidth = 38;
constexpr int kGroundHeight = 5;
constexpr int kSeeHereWidth = 39;
constexpr int kSeeHereHeight = 4;
constexpr int kWindowX = 20;
constexpr int kWindowY = 5;
constexpr int kWindowWidth = 40;
constexpr int kWindowHeight = 30;
constexpr int kFirstEntryRow = 2;
constexpr int kLetterColumn = 2;
constexpr int kLabelColumn = 3;
constexpr int kNameColumn = 15;
constexpr int kDoubleHorizontal = 205;
constexpr int kDoubleVertical = 186;
constexpr int kDoubleCross = 206;

struct HungerBand {
  int below;  // applies while hunger is below this
  const char* format;
  char colour;
};

constexpr HungerBand kHungerBands[] = {
    // hunger below, format, colour control code
    {50, "%cNot hungry%c", TCOD_COLCTRL_3},
    {100, "%cHungry%c", TCOD_COLCTRL_2},
    {150, "%cFamished%c", TCOD_COLCTRL_5},
    {250, "%cStarving%c", TCOD_COLCTRL_1},
};

// ---- Menu screens ----------------------------------------------------------------------------

// The letter and label of a listed entry: the first row of its screen whose test holds for the
// item decides; when none holds, the entry shows its name alone and its letter changes nothing.
struct EntryLabel {
  bool (*holds)(const Item& item, const Player& player);
  const char* text;
  const TCODColor* letterColour;
};

// What an entry's label depends on; each takes the player too, since ")equip" needs its slots.
constexpr auto isEatable = [](const Item& item, const Player&) { return item.eatable; };
constexpr auto isButcherable = [](const Item& item, const Player&) { return item.butcherable; };
constexpr auto isCraftable = [](const Item& item, const Player&) { return item.craftable; };
constexpr auto isEquipped = [](const Item& item, const Player&) { return item.equipped; };
constexpr auto isNotEquipped = [](const Item& item, const Player&) { return !item.equipped; };
constexpr auto isTheNote = [](const Item& item, const Player&) { return item.kind == BloodyNote; };
constexpr auto fitsAnEmptySlot = [](const Item& item, const Player& player) {
  return item.slot >= 0 && player.equipment[static_cast<std::size_t>(item.slot)] == nullptr;
};

// No item is more than one of eatable, butcherable and craftable, so the label always names
// what Player::useItem does with the entry.
constexpr EntryLabel kInventoryLabels[] = {
    // shown when, label, letter colour
    {isEatable, ")eat", &TCODColor::lightRed},
    {isButcherable, ")butcher", &TCODColor::lightRed},
    {isCraftable, ")craft", &TCODColor::lightViolet},
    {isEquipped, ")unequip", &TCODColor::desaturatedOrange},
    {fitsAnEmptySlot, ")equip", &TCODColor::orange},
    {isTheNote, ")read", &TCODColor::white},
};

// Worn items cannot be dropped.
constexpr EntryLabel kDropLabels[] = {
    // shown when, label, letter colour
    {isNotEquipped, ")drop", &TCODColor::red},
};

// What a letter does to entry `index` (positions past the end are ignored); returns the mode
// that follows. Choosing the note opens the note screen.
GameMode useEntry(Player& player, unsigned index) {
  const Item* used = player.useItem(index);
  return used != nullptr && used->kind == BloodyNote ? Note : Inventory;
}

GameMode dropEntry(Player& player, unsigned index) {
  player.drop(index);
  return Drop;
}

// A window over the middle of the level: everything one menu mode shows and does. The modes
// without a row here show no window. Every key on a menu screen takes a turn: Escape leads to
// `onEscape`, "z" back to the level, and the letter of inventory entry i (code 'a' + i) to
// `onLetter` for i.
struct MenuScreen {
  GameMode mode;
  const TCODColor* frameColour;
  const char* exitHint;      // over the bottom border
  const char* title;         // over the top border; nullptr: none
  const EntryLabel* labels;  // the screen lists the inventory; nullptr: it shows `text` instead
  std::size_t labelCount;
  const char* text;
  GameMode onEscape;
  GameMode (*onLetter)(Player& player, unsigned index);  // nullptr: a letter changes nothing
};

constexpr MenuScreen kMenuScreens[] = {
    // mode, frame colour, exit hint, title, entry labels, label count, text, after Escape,
    // what a letter does
    {Inventory, &TCODColor::lightBlue, "(Z) EXIT", "INVENTORY", kInventoryLabels,
     std::size(kInventoryLabels), nullptr, Normal, useEntry},
    {Drop, &TCODColor::lightBlue, "(Z) EXIT", "DROP ITEMS", kDropLabels, std::size(kDropLabels),
     nullptr, Normal, dropEntry},
    {Note, &TCODColor::red, "EXIT(ESC)", nullptr, nullptr, 0, kNoteText, FadeOut, nullptr},
};

// The screen `mode` shows over the level, or nullptr when it shows none.
const MenuScreen* menuScreenFor(GameMode mode) {
  for (const MenuScreen& screen : kMenuScreens) {
    if (screen.mode == mode) return &screen;
  }
  return nullptr;
}

// The mode after `key` on `screen`; a chosen letter acts on the player's inventory.
GameMode modeAfterKey(const MenuScreen& screen, const TCOD_key_t& key, Player& player) {
  const MenuCommand command = menuCommandFor(key);
  switch (command.action) {
    case MenuAction::Back:
      return screen.onEscape;
    case MenuAction::Close:
      return Normal;
    case MenuAction::Choose:
      return screen.onLetter != nullptr ? screen.onLetter(player, command.index) : screen.mode;
    case MenuAction::Nothing:
      break;
  }
  return screen.mode;
}

void printLeft(TCODConsole& console, int x, int y, TCOD_bkgnd_flag_t flag,
               const std::string& text) {
  console.printf(x, y, flag, TCOD_LEFT, "%s", text.c_str());
}

}  // namespace

const char* noteText() {
  return kNoteText;
}

const char* creditLine() {
  return kCredit;
}

// ---- Construction and teardown ---------------------------------------------------------------

Game::Game() {
  try {
    messageLog.add(kWakeUpMessage);
    menuConsole = std::make_unique<TCODConsole>(kWindowWidth, kWindowHeight);
    map = std::make_unique<Map>(&registry, kLevelWidth, kLevelHeight);
    player = new Player(&messageLog, map.get(), 1, 1);
    registerEntity(player);
    map->generate();
    map->computeFov(player->x, player->y, 3);
    populate();
  } catch (...) {
    destroyEntities();
    throw;
  }
}

Game::~Game() {
  destroyEntities();
  map.reset();
  menuConsole.reset();
}

// Carried items belong to the player, registered or not, so their registry entries go first and
// the player's destructor destroys them; then every other registered entity; then the items the
// player dropped that were never registered, which only the level still lists.
void Game::destroyEntities() {
  if (player != nullptr) {
    for (const Item* item : player->inventory)
      unregisterFrom(registry, item);
  }
  for (auto& entry : registry) {
    delete entry.second;
    entry.second = nullptr;
  }
  registry.clear();
  player = nullptr;
  if (map == nullptr) return;
  for (auto& row : map->tiles) {
    for (Tile& tile : row) {
      while (!tile.entities.empty())
        delete tile.entities.front();
    }
  }
}

void Game::registerEntity(Entity* entity) {
  registerInto(registry, *map, entity);
}

// A place is tested where the last one was; while it is not free, a new one is drawn, x then y.
void Game::populate() {
  int px = 0;
  int py = 0;
  const auto isFree = [this](int x, int y) {
    return map->isWalkable(x, y) && map->entityAt(x, y) == nullptr;
  };
  for (const PopulationBatch& batch : kPopulation) {
    for (int i = 0; i < batch.count; ++i) {
      while (!isFree(px, py)) {
        px = std::rand() % map->width;
        py = std::rand() % map->height;
      }
      Entity* entity =
          batch.isItem
              ? static_cast<Entity*>(new Item(&messageLog, map.get(), px, py, batch.kind))
              : new NPC(&messageLog, map.get(), px, py, static_cast<unsigned char>(batch.kind));
      registerEntity(entity);
      if (batch.redrawAfter) {
        px = std::rand() % map->width;
        py = std::rand() % map->height;
      }
    }
  }
}

// ---- One key ---------------------------------------------------------------------------------

bool Game::update() {
  const TCOD_key_t key = keyboard::waitForKeypress();
  if (key.vk == TCODK_NONE) return true;  // the window was closed: no turn, the shell stops
  if (player->dead || mode == EndScreen) return key.vk != TCODK_ESCAPE;
  if (const MenuScreen* screen = menuScreenFor(mode)) {
    mode = modeAfterKey(*screen, key, *player);
  } else {
    const Command command = commandFor(key);
    if (command.action == Action::Quit) return false;
    if (!perform(command)) return true;
  }
  passTurn();
  return true;
}

// Carries out a command of normal mode; true when it took a turn.
bool Game::perform(const Command& command) {
  switch (command.action) {
    case Action::Move:
      return player->move(command.direction);
    case Action::Wait:
      return true;
    case Action::PickUp:
      return player->pickUp();
    case Action::GiveBatMeat:
      player->receive(BatMeat);
      return false;
    case Action::OpenInventory:
      mode = Inventory;
      return false;
    case Action::OpenDrop:
      mode = Drop;
      return false;
    case Action::Quit:
    case Action::None:
      return false;
  }
  return false;
}

// ---- One turn --------------------------------------------------------------------------------

void Game::passTurn() {
  ++turnCount;
  advanceStory();
  for (auto& entry : registry)
    entry.second->takeTurn();
  removeTheDead();
  map->computeFov(player->x, player->y, 5);
}

void Game::advanceStory() {
  if (storyStage < 0 || storyStage >= static_cast<int>(std::size(kMilestones))) return;
  const Milestone& milestone = kMilestones[static_cast<std::size_t>(storyStage)];
  const int count = milestone.byKills ? killCount : turnCount;
  if (count <= milestone.threshold) return;
  messageLog.add(milestone.message);
  if (storyStage == kNoteStage) {
    player->receive(BloodyNote);
  }
  ++storyStage;
}

// Dead creatures leave their corpses (registered with larger ids, which the scan then passes)
// and are destroyed; a dead player ends the scan and stays.
void Game::removeTheDead() {
  for (auto it = registry.begin(); it != registry.end();) {
    Entity* entity = it->second;
    if (!entity->dead) {
      ++it;
      continue;
    }
    entity->die();
    if (entity == player) return;
    if (dynamic_cast<NPC*>(entity) != nullptr) ++killCount;
    if (player->target == entity) player->target = nullptr;  // nothing points at the dead
    it = registry.erase(it);
    delete entity;
  }
}

// ---- Drawing ---------------------------------------------------------------------------------

namespace {

void drawFrame(TCODConsole& window, const TCODColor& colour) {
  const TCODColor& black = TCODColor::black;
  const int right = kWindowWidth - 1;
  const int bottom = kWindowHeight - 1;
  for (int x = 0; x < kWindowWidth; ++x) {
    window.putCharEx(x, 0, kDoubleHorizontal, colour, black);
    window.putCharEx(x, bottom, kDoubleHorizontal, colour, black);
  }
  for (int y = 0; y < kWindowHeight; ++y) {
    window.putCharEx(0, y, kDoubleVertical, colour, black);
    window.putCharEx(right, y, kDoubleVertical, colour, black);
  }
  window.putCharEx(0, 0, kDoubleCross, colour, black);
  window.putCharEx(0, bottom, kDoubleCross, colour, black);
  window.putCharEx(right, 0, kDoubleCross, colour, black);
  window.putCharEx(right, bottom, kDoubleCross, colour, black);
}

const EntryLabel* labelFor(const MenuScreen& screen, const Item& item, const Player& player) {
  for (std::size_t i = 0; i < screen.labelCount; ++i) {
    if (screen.labels[i].holds(item, player)) return &screen.labels[i];
  }
  return nullptr;
}

// Entry i stands on row 2 + i under the letter 'a' + i, shown or not; rows past the window are
// not drawn.
void drawEntries(TCODConsole& window, const MenuScreen& screen, const Player& player) {
  const std::size_t visible = static_cast<std::size_t>(kWindowHeight - kFirstEntryRow);
  for (std::size_t i = 0; i < player.inventory.size() && i < visible; ++i) {
    const Item& item = *player.inventory[i];
    const int row = kFirstEntryRow + static_cast<int>(i);
    if (const EntryLabel* label = labelFor(screen, item, player)) {
      window.putCharEx(kLetterColumn, row, 'a' + static_cast<int>(i), *label->letterColour,
                       TCODColor::black);
      printLeft(window, kLabelColumn, row, TCOD_BKGND_NONE, label->text);
    }
    printLeft(window, kNameColumn, row, TCOD_BKGND_NONE, item.name);
  }
}

// Draws `screen` into `window` and copies it, opaque, over the middle of the level.
void drawMenuWindow(TCODConsole& window, const MenuScreen& screen, const Player& player) {
  window.clear();
  drawFrame(window, *screen.frameColour);
  printLeft(window, 4, kWindowHeight - 1, TCOD_BKGND_NONE, screen.exitHint);
  if (screen.title != nullptr) printLeft(window, 4, 0, TCOD_BKGND_NONE, screen.title);
  if (screen.labels != nullptr) {
    drawEntries(window, screen, player);
  } else {
    window.printRectEx(2, 2, 36, 26, TCOD_BKGND_NONE, TCOD_LEFT, "%s", screen.text);
  }
  TCODConsole::blit(&window, 0, 0, kWindowWidth, kWindowHeight, TCODConsole::root, kWindowX,
                    kWindowY, 1.0f, 1.0f);
  display::flush();
}

}  // namespace

void Game::draw() {
  switch (mode) {
    case FadeOut:
      for (int fade = 255; fade >= 0; --fade) {
        TCODConsole::setFade(static_cast<std::uint8_t>(fade), TCODColor::black);
        display::flush();
      }
      mode = EndScreen;
      drawEndScreen();
      break;
    case EndScreen:
      drawEndScreen();
      break;
    default:
      map->draw();
      drawInterface();
      break;
  }
}

void Game::drawEndScreen() {
  TCODConsole& root = *TCODConsole::root;
  root.clear();
  TCODConsole::setFade(255, TCODColor::black);
  display::flush();
  root.printf(40, 24, TCOD_BKGND_SET, TCOD_CENTER, "%s", kCredit);
  root.printf(40, 26, TCOD_BKGND_SET, TCOD_CENTER, "%s", "Thanks for Playing");
}

void Game::drawInterface() {
  drawSidePanel();
  drawCreaturesInView();
  drawGround();
  messageLog.draw();
  if (const MenuScreen* screen = menuScreenFor(mode)) {
    drawMenuWindow(*menuConsole, *screen, *player);
  }
}

void Game::drawSidePanel() {
  TCODConsole& root = *TCODConsole::root;
  root.rect(kPanelX, 0, kPanelWidth, kPanelHeight, true, TCOD_BKGND_SET);
  printLeft(root, kPanelX + 1, 1, TCOD_BKGND_NONE,
            std::to_string(player->hp) + "/" + std::to_string(player->maxHp));
  const int filled = player->maxHp > 0 ? player->hp * 10 / player->maxHp : 0;
  for (int i = 0; i < 10 && i < filled; ++i) {
    root.setCharBackground(kPanelX + i, 1, TCODColor::darkRed, TCOD_BKGND_SET);
  }
  printLeft(root, kPanelX, 3, TCOD_BKGND_NONE, "Armor: " + std::to_string(player->armor));
  printLeft(root, kPanelX, 4, TCOD_BKGND_NONE,
            "Damage:" + std::to_string(player->weaponDamage + player->baseDamage));
  for (const HungerBand& band : kHungerBands) {
    if (player->hunger < band.below) {
      root.printf(kPanelX, 5, TCOD_BKGND_SET, TCOD_LEFT, band.format, band.colour,
                  TCOD_COLCTRL_STOP);
      break;
    }
  }
}

// Lists every creature drawn in view this frame. Each one listed costs one rand() draw, which
// lets a kitten purr now and then.
void Game::drawCreaturesInView() {
  TCODConsole& root = *TCODConsole::root;
  int row = kCreatureListTop;
  for (Entity* entity : map->visibleEntities) {
    const auto* creature = dynamic_cast<const NPC*>(entity);
    if (creature == nullptr || creature->isPlayer) continue;
    if (std::rand() % 6 == 0 && creature->kind == Kitten) messageLog.add("The kitten purrs.");
    const float health =
        creature->maxHp > 0 ? static_cast<float>(creature->hp) / static_cast<float>(creature->maxHp)
                            : 0.0f;
    const float clamped = std::clamp(health, 0.0f, 1.0f);  // the dying may sit below zero
    root.setCharBackground(kPanelX, row, TCODColor::lerp(TCODColor::red, TCODColor::green, clamped),
                           TCOD_BKGND_SET);
    printLeft(root, kPanelX + 1, row, TCOD_BKGND_NONE, creature->name);
    if (creature->angry) {
      root.printf(kPanelX + 2, row + 1, TCOD_BKGND_SET, TCOD_LEFT, "%cangry%c", TCOD_COLCTRL_1,
                  TCOD_COLCTRL_STOP);
      row += 2;
    } else if (creature->fleeing) {
      root.printf(kPanelX + 2, row + 1, TCOD_BKGND_SET, TCOD_LEFT, "%cfleeing%c", TCOD_COLCTRL_2,
                  TCOD_COLCTRL_STOP);
      row += 2;
    } else {
      row += 1;
    }
  }
}

void Game::drawGround() {
  TCODConsole& root = *TCODConsole::root;
  const Tile& ground = map->tileAt(player->x, player->y);
  std::string seeHere;
  for (const Entity* entity : ground.entities) {
    const auto* item = dynamic_cast<const Item*>(entity);
    if (item == nullptr) continue;
    seeHere += seeHere.empty() ? "You see here: " : ", ";
    seeHere += item->name;
  }
  root.rect(kGroundX, kGroundY, kGroundWidth, kGroundHeight, true, TCOD_BKGND_SET);
  if (const char* description = describeGlyph(ground.glyph)) {
    printLeft(root, kGroundX, kGroundY, TCOD_BKGND_NONE, description);
  }
  root.printRectEx(kGroundX, kGroundY + 1, kSeeHereWidth, kSeeHereHeight, TCOD_BKGND_NONE,
                   TCOD_LEFT, "%s", seeHere.c_str());
}

TableRows<PopulationBatch> population() {
  return {std::begin(kPopulation), std::end(kPopulation)};
}

KeyTable normalKeys() {
  return {std::begin(kNormalKeys), std::end(kNormalKeys)};
}

KeyBinding keyFor(Action action) {
  for (const KeyBinding& binding : kNormalKeys) {
    if (binding.command.action == action) return binding;
  }
  return {TCODK_NONE, 0, {Action::None, 0}};
}

char moveLetter(int direction) {
  for (const KeyBinding& binding : kNormalKeys) {
    const Command& command = binding.command;
    if (binding.vk == TCODK_CHAR && command.action == Action::Move &&
        command.direction == direction) {
      return binding.c;
    }
  }
  return 0;
}

// The game's key wait, driven through real SDL events.

#include "Keyboard.hpp"
#include "Keys.hpp"

#include <SDL.h>
#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A key as text, so that a mismatch reads well.
std::string describe(const TCOD_key_t& key) {
  return "vk " + std::to_string(key.vk) + " c " + std::to_string(int{key.c}) +
         (key.pressed ? " pressed" : " released") + (key.shift ? " shift" : "");
}

SDL_Event keyEvent(Uint32 type, SDL_Keycode sym, Uint16 mod) {
  SDL_Event event{};
  event.type = type;
  event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
  event.key.keysym.sym = sym;
  event.key.keysym.scancode = SDL_GetScancodeFromKey(sym);
  event.key.keysym.mod = mod;
  return event;
}

void push(SDL_Event event) {
  ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}
void pushKeyDown(SDL_Keycode sym, Uint16 mod = KMOD_NONE) {
  push(keyEvent(SDL_KEYDOWN, sym, mod));
}
void pushKeyUp(SDL_Keycode sym, Uint16 mod = KMOD_NONE) {
  push(keyEvent(SDL_KEYUP, sym, mod));
}

void pushTextInput(const char* text) {
  SDL_Event event{};
  event.type = SDL_TEXTINPUT;
  std::snprintf(event.text.text, sizeof event.text.text, "%s", text);
  push(event);
}

void pushWindowEvent(SDL_WindowEventID id) {
  SDL_Event event{};
  event.type = SDL_WINDOWEVENT;
  event.window.event = id;
  push(event);
}

void pushQuit() {
  SDL_Event event{};
  event.type = SDL_QUIT;
  push(event);
}

int queuedEvents() {
  SDL_PumpEvents();
  return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
}

// Runs in a child process: a wait that never returns kills the child (SIGALRM) instead of
// hanging the test run.
void failIfStuck() {
  alarm(10);
}

// Runs in a child process: the wait's answer and whether the window now counts as closed,
// printed for the parent's EXPECT_EXIT to match.
[[noreturn]] void reportAndExit(const TCOD_key_t& key) {
  std::fprintf(stderr, "vk=%d closed=%d\n", key.vk, TCODConsole::isWindowClosed() ? 1 : 0);
  std::exit(0);
}

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    keyboard::setKeySource(nullptr);
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
  void TearDown() override {
    keyboard::setKeySource(nullptr);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
};

TEST_F(KeyboardTest, ReturnsThePressedKeyAsLibtcodReportsIt) {
  pushKeyDown(SDLK_j);
  pushKeyDown(SDLK_ESCAPE);
  pushKeyDown(SDLK_UP);
  pushKeyDown(SDLK_HOME);

  TCOD_key_t key = keyboard::nextKeypress();
  EXPECT_EQ(key.vk, TCODK_CHAR);
  EXPECT_EQ(key.c, 'j');
  EXPECT_TRUE(key.pressed);
  EXPECT_FALSE(key.shift);
  EXPECT_EQ(keyboard::nextKeypress().vk, TCODK_ESCAPE);
  EXPECT_EQ(keyboard::nextKeypress().vk, TCODK_UP);
  EXPECT_EQ(keyboard::nextKeypress().vk, TCODK_HOME);
  EXPECT_EQ(queuedEvents(), 0);
}

TEST_F(KeyboardTest, SkipsReleasesTextInputAndOtherEvents) {
  pushKeyUp(SDLK_h);
  pushTextInput("h");
  pushWindowEvent(SDL_WINDOWEVENT_EXPOSED);  // redraws, is no key
  pushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  push(motion);
  pushKeyDown(SDLK_k);
  pushKeyUp(SDLK_k);

  const TCOD_key_t key = keyboard::nextKeypress();
  EXPECT_EQ(key.vk, TCODK_CHAR);
  EXPECT_EQ(key.c, 'k');
  EXPECT_TRUE(key.pressed);
}

TEST_F(KeyboardTest, ShiftGivesTheShiftedCharacter) {
  pushKeyDown(SDLK_LSHIFT, KMOD_LSHIFT);  // the Shift press itself is no key
  pushKeyDown(SDLK_h, KMOD_LSHIFT);
  pushKeyDown(SDLK_PERIOD, KMOD_RSHIFT);
  pushKeyDown(SDLK_1, KMOD_LSHIFT);
  pushKeyDown(SDLK_SLASH, KMOD_LSHIFT);
  pushKeyUp(SDLK_LSHIFT);
  pushKeyDown(SDLK_h);

  TCOD_key_t key = keyboard::nextKeypress();
  EXPECT_EQ(key.vk, TCODK_CHAR);
  EXPECT_EQ(key.c, 'H');
  EXPECT_TRUE(key.shift);
  key = keyboard::nextKeypress();
  EXPECT_EQ(key.vk, TCODK_CHAR);
  EXPECT_EQ(key.c, '>');
  key = keyboard::nextKeypress();
  EXPECT_EQ(key.vk, TCODK_CHAR) << "Shift+1 is the character '!', not the key 1";
  EXPECT_EQ(key.c, '!');
  EXPECT_EQ(keyboard::nextKeypress().c, '?');
  key = keyboard::nextKeypress();  // Shift released: plain again
  EXPECT_EQ(key.c, 'h');
  EXPECT_FALSE(key.shift);
}

// The character typed reaches the game on any keyboard layout: SDL's text input behind the
// press says what it was. The keypad stays the keypad.
TEST_F(KeyboardTest, TheCharacterTypedWinsOnAnyLayout) {
  struct Case {
    const char* what;
    SDL_Keycode sym;
    Uint16 mod;
    const char* text;
    TCOD_keycode_t vk;
    char c;  // 0: as libtcod reports the key
  };
  const Case cases[] = {
      {"French: Shift and the ; key type .", SDLK_SEMICOLON, KMOD_LSHIFT, ".", TCODK_CHAR, '.'},
      {"French: Shift and the & key type 1", SDLK_AMPERSAND, KMOD_LSHIFT, "1", TCODK_1, '1'},
      {"French: the : key", SDLK_COLON, KMOD_NONE, ":", TCODK_CHAR, ':'},
      {"German: the y key types z", SDLK_z, KMOD_NONE, "z", TCODK_CHAR, 'z'},
      {"Shift+h types H", SDLK_h, KMOD_LSHIFT, "H", TCODK_CHAR, 'H'},
      {"space", SDLK_SPACE, KMOD_NONE, " ", TCODK_SPACE, ' '},
      {"keypad 7 with Num Lock", SDLK_KP_7, KMOD_NUM, "7", TCODK_KP7, 0},
      {"keypad . with Num Lock", SDLK_KP_PERIOD, KMOD_NUM, ".", TCODK_KPDEC, 0},
      {"a character outside ASCII", SDLK_2, KMOD_NONE, "\xc3\xa9", TCODK_2, '2'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pushKeyDown(c.sym, c.mod);
    pushTextInput(c.text);
    pushKeyDown(SDLK_j);  // no text behind it: j as libtcod reports it
    const TCOD_key_t key = keyboard::nextKeypress();
    EXPECT_EQ(key.vk, c.vk);
    if (c.c != 0) {
      EXPECT_EQ(key.c, c.c);
    }
    EXPECT_EQ(key.shift, (c.mod & KMOD_SHIFT) != 0);
    EXPECT_EQ(keyboard::nextKeypress().c, 'j') << "the text input is no key of its own";
    EXPECT_EQ(queuedEvents(), 0);
  }
}

TEST_F(KeyboardTest, ModifierAndLockKeysAloneAreNoKeyPress) {
  pushKeyDown(SDLK_LSHIFT, KMOD_LSHIFT);
  pushKeyDown(SDLK_RSHIFT, KMOD_RSHIFT);
  pushKeyDown(SDLK_LCTRL, KMOD_LCTRL);
  pushKeyDown(SDLK_RALT, KMOD_RALT);
  pushKeyDown(SDLK_LGUI, KMOD_LGUI);
  pushKeyDown(SDLK_CAPSLOCK);
  pushKeyDown(SDLK_NUMLOCKCLEAR);
  pushKeyDown(SDLK_l);

  const TCOD_key_t key = keyboard::nextKeypress();
  EXPECT_EQ(key.vk, TCODK_CHAR);
  EXPECT_EQ(key.c, 'l');
}

// The rig's scripted keys must be the keys the real keyboard gives, or scripted tests would
// test a game no player can play.
TEST_F(KeyboardTest, ScriptedKeysEqualRealKeys) {
  struct Case {
    SDL_Keycode sym;
    Uint16 mod;
    const char* script;
  };
  const Case cases[] = {
      {SDLK_h, KMOD_NONE, "h"},
      {SDLK_h, KMOD_LSHIFT, "<S-h>"},
      {SDLK_PERIOD, KMOD_NONE, "."},
      {SDLK_PERIOD, KMOD_LSHIFT, "<S-.>"},
      {SDLK_1, KMOD_NONE, "1"},
      {SDLK_1, KMOD_LSHIFT, "<S-1>"},
      {SDLK_SPACE, KMOD_NONE, " "},
      {SDLK_z, KMOD_NONE, "z"},
      {SDLK_ESCAPE, KMOD_NONE, "<Esc>"},
      {SDLK_UP, KMOD_NONE, "<Up>"},
      {SDLK_DOWN, KMOD_NONE, "<Down>"},
      {SDLK_LEFT, KMOD_NONE, "<Left>"},
      {SDLK_RIGHT, KMOD_NONE, "<Right>"},
      {SDLK_HOME, KMOD_NONE, "<Home>"},
      {SDLK_END, KMOD_NONE, "<End>"},
      {SDLK_PAGEUP, KMOD_NONE, "<PgUp>"},
      {SDLK_PAGEDOWN, KMOD_NONE, "<PgDn>"},
      {SDLK_INSERT, KMOD_NONE, "<Ins>"},
      {SDLK_KP_0, KMOD_NONE, "<KP0>"},
      {SDLK_KP_9, KMOD_NONE, "<KP9>"},
      {SDLK_F7, KMOD_NONE, "<F7>"},
      {SDLK_BACKSLASH, KMOD_LSHIFT, "<S-\\>"},
      {SDLK_QUOTE, KMOD_RSHIFT, "<S-'>"},
      {SDLK_0, KMOD_NONE, "0"},
      {SDLK_RETURN, KMOD_NONE, "<Enter>"},
      {SDLK_TAB, KMOD_NONE, "<Tab>"},
      {SDLK_BACKSPACE, KMOD_NONE, "<Backspace>"},
      {SDLK_DELETE, KMOD_NONE, "<Del>"},
      {SDLK_F1, KMOD_NONE, "<F1>"},
      {SDLK_F12, KMOD_NONE, "<F12>"},
      {SDLK_KP_1, KMOD_NONE, "<KP1>"},
      {SDLK_LESS, KMOD_NONE, "<lt>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    pushKeyDown(c.sym, c.mod);
    const TCOD_key_t real = keyboard::nextKeypress();
    const auto scripted = harness::parseKeyScript(c.script);
    ASSERT_EQ(scripted.size(), 1u);
    EXPECT_EQ(describe(scripted.front()), describe(real));
  }
}

TEST_F(KeyboardTest, WaitDiscardsKeysPressedBeforeItAndBlocksForTheNext) {
  pushKeyDown(SDLK_h);  // typed while the game was busy
  std::thread presser([] {
    std::this_thread::sleep_for(100ms);
    SDL_Event event = keyEvent(SDL_KEYDOWN, SDLK_j, KMOD_NONE);
    SDL_PushEvent(&event);
  });
  const TCOD_key_t key = keyboard::waitForKeypress();
  presser.join();
  EXPECT_EQ(key.vk, TCODK_CHAR);
  EXPECT_EQ(key.c, 'j');
}

TEST_F(KeyboardTest, KeySourceReplacesSdlUntilCleared) {
  pushKeyDown(SDLK_h);
  int calls = 0;
  keyboard::setKeySource([&calls] {
    ++calls;
    return harness::characterKey('y');
  });
  EXPECT_EQ(keyboard::waitForKeypress().c, 'y');
  EXPECT_EQ(keyboard::waitForKeypress().c, 'y');
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(queuedEvents(), 1) << "a key source must leave SDL's queue alone";

  keyboard::setKeySource(nullptr);
  EXPECT_EQ(keyboard::nextKeypress().c, 'h');
  EXPECT_EQ(calls, 2);
}

TEST_F(KeyboardTest, KeyScriptHandsOutItsKeysInOrderThenRestoresTheKeyboard) {
  {
    harness::KeyScript keys("hj<Esc>");
    keys.then(harness::shiftedKey('h')).then("<Home>.");
    EXPECT_EQ(keys.remaining(), 6u);
    EXPECT_EQ(keyboard::waitForKeypress().c, 'h');
    EXPECT_EQ(keyboard::waitForKeypress().c, 'j');
    EXPECT_EQ(keyboard::waitForKeypress().vk, TCODK_ESCAPE);
    const TCOD_key_t shiftH = keyboard::waitForKeypress();
    EXPECT_EQ(shiftH.c, 'H');
    EXPECT_TRUE(shiftH.shift);
    EXPECT_EQ(keyboard::waitForKeypress().vk, TCODK_HOME);
    EXPECT_EQ(keyboard::waitForKeypress().c, '.');
    EXPECT_EQ(keys.remaining(), 0u);
    EXPECT_FALSE(keys.ranOut());
  }
  std::thread presser([] {
    std::this_thread::sleep_for(50ms);
    SDL_Event event = keyEvent(SDL_KEYDOWN, SDLK_n, KMOD_NONE);
    SDL_PushEvent(&event);
  });
  const TCOD_key_t key = keyboard::waitForKeypress();
  presser.join();
  EXPECT_EQ(key.c, 'n') << "the real keyboard is back once the script is gone";
}

TEST_F(KeyboardTest, MalformedKeyScriptsAreRejected) {
  EXPECT_THROW(harness::parseKeyScript("h<Nope>"), std::invalid_argument);
  EXPECT_THROW(harness::parseKeyScript("h<Esc"), std::invalid_argument);
  EXPECT_THROW(harness::parseKeyScript("<F13>"), std::invalid_argument);
  EXPECT_EQ(harness::parseKeyScript("").size(), 0u);
  EXPECT_EQ(harness::parseKeyScript("<lt>>").size(), 2u);
}

// Closing the window cannot be undone in a process, so each of these runs in a child.
class KeyboardCloseTest : public KeyboardTest {
 protected:
  void SetUp() override {
    KeyboardTest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

TEST_F(KeyboardCloseTest, QuitEndsTheWaitAndClosesTheWindow) {
  EXPECT_EXIT(
      {
        failIfStuck();
        pushQuit();
        reportAndExit(keyboard::nextKeypress());
      },
      ::testing::ExitedWithCode(0), "vk=0 closed=1");
}

TEST_F(KeyboardCloseTest, WindowCloseEventEndsTheWait) {
  EXPECT_EXIT(
      {
        failIfStuck();
        pushWindowEvent(SDL_WINDOWEVENT_CLOSE);
        reportAndExit(keyboard::nextKeypress());
      },
      ::testing::ExitedWithCode(0), "vk=0 closed=1");
}

TEST_F(KeyboardCloseTest, QuitQueuedBeforeTheWaitSurvivesTheFlush) {
  EXPECT_EXIT(
      {
        failIfStuck();
        pushKeyDown(SDLK_h);
        pushQuit();
        pushKeyDown(SDLK_j);
        reportAndExit(keyboard::waitForKeypress());
      },
      ::testing::ExitedWithCode(0), "vk=0 closed=1");
}

TEST_F(KeyboardCloseTest, QuitWhileBlockedEndsTheWait) {
  EXPECT_EXIT(
      {
        failIfStuck();
        std::thread closer([] {
          std::this_thread::sleep_for(100ms);
          SDL_Event event{};
          event.type = SDL_QUIT;
          SDL_PushEvent(&event);
        });
        const TCOD_key_t key = keyboard::waitForKeypress();
        closer.join();
        reportAndExit(key);
      },
      ::testing::ExitedWithCode(0), "vk=0 closed=1");
}

TEST_F(KeyboardCloseTest, TerminationSignalEndsTheWaitLikeClosingTheWindow) {
  EXPECT_EXIT(
      {
        failIfStuck();
        std::thread killer([] {
          std::this_thread::sleep_for(100ms);
          kill(getpid(), SIGTERM);
        });
        const TCOD_key_t key = keyboard::waitForKeypress();
        killer.join();
        reportAndExit(key);
      },
      ::testing::ExitedWithCode(0), "vk=0 closed=1");
}

TEST_F(KeyboardCloseTest, AClosedWindowAnswersAtOnce) {
  EXPECT_EXIT(
      {
        failIfStuck();
        pushQuit();
        keyboard::nextKeypress();
        // Nothing is queued now: a wait that blocked here would never return.
        const TCOD_key_t again = keyboard::waitForKeypress();
        reportAndExit(keyboard::nextKeypress().vk == TCODK_NONE ? again
                                                                : harness::characterKey('x'));
      },
      ::testing::ExitedWithCode(0), "vk=0 closed=1");
}

TEST_F(KeyboardCloseTest, ARunOutKeyScriptClosesTheWindow) {
  EXPECT_EXIT(
      {
        failIfStuck();
        harness::KeyScript keys("a");
        const TCOD_key_t first = keyboard::waitForKeypress();
        if (first.c != 'a' || TCODConsole::isWindowClosed()) std::exit(2);
        const TCOD_key_t none = keyboard::waitForKeypress();
        if (!keys.ranOut() || keyboard::waitForKeypress().vk != TCODK_NONE) std::exit(3);
        reportAndExit(none);
      },
      ::testing::ExitedWithCode(0), "vk=0 closed=1");
}

}  // namespace

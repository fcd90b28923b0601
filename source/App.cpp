#include "App.hpp"

#include <libtcod.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "Display.hpp"
#include "FontSheet.hpp"
#include "Keyboard.hpp"

App::App(Window window) {
  std::srand(0);
  if (!fontsheet::load(kFontFile) || !openWindow(window)) {
    running = false;
    return;
  }
  TCODConsole::setColorControl(TCOD_COLCTRL_1, TCODColor::red, TCODColor::black);
  TCODConsole::setColorControl(TCOD_COLCTRL_2, TCODColor::yellow, TCODColor::black);
  TCODConsole::setColorControl(TCOD_COLCTRL_3, TCODColor::green, TCODColor::black);
  TCODConsole::setColorControl(TCOD_COLCTRL_4, TCODColor::blue, TCODColor::black);
  TCODConsole::setColorControl(TCOD_COLCTRL_5, TCODColor::orange, TCODColor::black);
  started = true;
}

bool App::openWindow(Window window) {
  std::string reason = display::whyNoWindow();
  if (reason.empty()) {
    try {
      if (window == Window::Unseen) fontsheet::installBlank();
      TCODConsole::initRoot(80, 50, "Vesperdeep", false);
      if (window == Window::Shown) {
        display::setWindowIcon();
        display::watchWindow();
      }
      return true;
    } catch (const std::exception& error) {
      reason = error.what();
    }
  }
  std::replace(reason.begin(), reason.end(), '\n', ' ');  // one line, whatever SDL said
  // Without a display the player needs a desktop; a display that refuses has said what to do.
  const bool noDisplay = reason.rfind("no display", 0) == 0;
  std::fprintf(stderr, "vesperdeep: cannot open a window: %s%s\n", reason.c_str(),
               noDisplay ? "; run it on a desktop, or under xvfb-run for a test" : "");
  return false;
}

void App::run() {
  while (running && !TCODConsole::isWindowClosed()) {
    if (state == Title) {
      drawTitle();
      display::flush();
      handleTitleKey();
      continue;
    }
    if (game == nullptr) game = std::make_unique<Game>();
    game->draw();
    display::flush();
    if (!game->update()) {
      game.reset();
      state = Title;
    }
  }
  game.reset();
}

void App::drawTitle() {
  TCODConsole& root = *TCODConsole::root;
  root.clear();
  root.printf(40, 25, TCOD_BKGND_NONE, TCOD_CENTER, "%s", "Press any key to start a new game.");
}

void App::handleTitleKey() {
  const TCOD_key_t key = keyboard::waitForKeypress();
  if (key.vk == TCODK_NONE) return;  // the window was closed
  if (key.vk == TCODK_ESCAPE) {
    running = false;
    return;
  }
  state = Playing;
  TCODConsole::root->clear();
}

bool parsePartitionOption(const char* program, const char* usage, int argc, char** argv,
                          std::optional<std::uint32_t>& partition, int& status) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage, stdout);
      status = 0;
      return false;
    }
    if (std::strcmp(argv[i], "--partition") == 0 && i + 1 < argc) {
      const std::string text = argv[++i];
      char* end = nullptr;
      errno = 0;
      const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
      if (!text.empty() && text[0] != '-' && *end == '\0' && errno == 0 && value <= UINT32_MAX) {
        partition = static_cast<std::uint32_t>(value);
        continue;
      }
      std::fprintf(stderr, "%s: --partition needs a number from 0 to 4294967295, not \"%s\"\n",
                   program, text.c_str());
    } else {
      std::fprintf(stderr, "%s: unknown option %s (see %s --help)\n", program, argv[i], program);
    }
    status = 64;
    return false;
  }
  return true;
}

// vesperdeep-term-probe: vesperdeep-term with the play driver's story shortcut (--kills N:
// every game starts with N kills counted), so that the terminal tests and measurements can
// reach the note, the fade and the end screen in a few keys. Not installed.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "App.hpp"
#include "Terminal.hpp"

int main(int argc, char** argv) {
  std::optional<std::uint32_t> partition;
  int kills = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--partition") == 0) {
      partition = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    } else if (std::strcmp(argv[i], "--kills") == 0) {
      kills = std::atoi(argv[i + 1]);
    }
  }
  const Game* counted = nullptr;
  return terminal::play(partition, [&](App& app) {
    if (kills < 0 || app.game == nullptr || app.game.get() == counted) return;
    counted = app.game.get();
    app.game->killCount = kills;
  });
}

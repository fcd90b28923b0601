#include "Record.hpp"

#include "App.hpp"
#include "Game.hpp"
#include "KeyToken.hpp"
#include "Player.hpp"

namespace terminal {

void Recorder::waiting(const App& app) {
  const Game* game = app.game.get();
  if (game == nullptr) return;  // the title screen: the last game's state stands
  turns = game->turnCount;
  kills = game->killCount;
  state = game->player->dead        ? recording::Ending::Died
          : game->mode == EndScreen ? recording::Ending::EndScreen
                                    : recording::Ending::Quit;
}

void Recorder::read(const TCOD_key_t& key) {
  if (key.vk == TCODK_NONE) {
    hungUp = true;
    return;
  }
  file.key(recording::keyToken(key));
}

bool Recorder::finish() {
  const recording::Ending how = state != recording::Ending::Quit ? state
                                : hungUp                         ? recording::Ending::HangUp
                                                                 : recording::Ending::Quit;
  return file.close(how, turns, kills);
}

}  // namespace terminal

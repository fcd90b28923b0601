#include "Record.hpp"

#include <cstdint>

#include "Game.hpp"
#include "KeyToken.hpp"
#include "Player.hpp"
#include "Protocol.hpp"

namespace pipefront {
namespace {

void appendU32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out += static_cast<char>((value >> shift) & 0xFF);
}

}  // namespace

std::string keyReadMessage(const TCOD_key_t& key) {
  return std::string(1, protocol::kKeyRead) + recording::keyToken(key);
}

std::string statusMessage(const Game* game) {
  std::string out(1, protocol::kStatus);
  std::uint8_t state = protocol::kTitle;
  if (game != nullptr) {
    state = game->player->dead        ? protocol::kDead
            : game->mode == EndScreen ? protocol::kEndScreen
                                      : protocol::kPlaying;
  }
  appendU32(out, game != nullptr ? static_cast<std::uint32_t>(game->turnCount) : 0);
  appendU32(out, game != nullptr ? static_cast<std::uint32_t>(game->killCount) : 0);
  out += static_cast<char>(state);
  return out;
}

}  // namespace pipefront

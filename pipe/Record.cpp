#include "Record.hpp"

#include <array>
#include <cstdint>
#include <string_view>

#include "Game.hpp"
#include "Player.hpp"
#include "Protocol.hpp"

namespace pipefront {
namespace {

// The keys without a character that the pipe makes, and their key-script names.
struct NamedKey {
  TCOD_keycode_t vk;
  std::string_view name;
};
constexpr std::array<NamedKey, 8> kNamedKeys = {{
    {TCODK_ESCAPE, "Esc"},
    {TCODK_ENTER, "Enter"},
    {TCODK_UP, "Up"},
    {TCODK_DOWN, "Down"},
    {TCODK_LEFT, "Left"},
    {TCODK_RIGHT, "Right"},
    {TCODK_HOME, "Home"},
    {TCODK_SPACE, "Space"},
}};

bool plainlyTyped(const TCOD_key_t& key) {
  return key.pressed && !key.shift && !key.lctrl && !key.rctrl && !key.lalt && !key.ralt &&
         !key.lmeta && !key.rmeta && key.text[0] == '\0';
}

void appendU32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out += static_cast<char>((value >> shift) & 0xFF);
}

}  // namespace

std::string keyToken(const TCOD_key_t& key) {
  if (plainlyTyped(key)) {
    for (const NamedKey& named : kNamedKeys) {
      if (named.vk == key.vk) return "<" + std::string(named.name) + ">";
    }
    const bool typed = key.vk == TCODK_CHAR || (key.vk >= TCODK_0 && key.vk <= TCODK_9);
    if (typed && key.c == '<') return "<lt>";
    if (typed && key.c > ' ' && key.c <= '~' && key.c != '#') return std::string(1, key.c);
  }
  const unsigned flags = (key.shift ? 1u : 0u) | (key.pressed ? 0u : 0x80u);
  return "<#" + std::to_string(static_cast<int>(key.vk)) + "," + std::to_string(int{key.c}) + "," +
         std::to_string(flags) + ">";
}

std::string keyReadMessage(const TCOD_key_t& key) {
  return std::string(1, protocol::kKeyRead) + keyToken(key);
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

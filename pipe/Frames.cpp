#include "Frames.hpp"

#include <iterator>
#include <memory>

#include "Display.hpp"
#include "Keyboard.hpp"
#include "Protocol.hpp"

namespace pipefront {
namespace {

constexpr std::size_t kCells = static_cast<std::size_t>(protocol::kCols) * protocol::kRows;

// The game's key for each key code that is not a character.
struct NamedKey {
  std::uint8_t code;
  TCOD_keycode_t vk;
};
constexpr NamedKey namedKeys[] = {
    {protocol::kEscape, TCODK_ESCAPE}, {protocol::kEnter, TCODK_ENTER},
    {protocol::kUp, TCODK_UP},         {protocol::kDown, TCODK_DOWN},
    {protocol::kLeft, TCODK_LEFT},     {protocol::kRight, TCODK_RIGHT},
    {protocol::kHome, TCODK_HOME},
};

std::array<std::uint8_t, 3> rgb(const TCODColor& colour) {
  return {colour.r, colour.g, colour.b};
}

// The key that types `c` with Shift held ('H' -> 'h'), or `c` itself.
char unshifted(char c) {
  for (int plain = protocol::kFirstPrintable; plain <= protocol::kLastPrintable; ++plain) {
    if (keyboard::shiftedCharacter(static_cast<char>(plain)) == c) return static_cast<char>(plain);
  }
  return c;
}

void appendRun(std::string& out, const Screen& screen, std::size_t start, std::size_t count) {
  const Cell& first = screen[start];
  out += static_cast<char>(start & 0xFF);
  out += static_cast<char>(start >> 8);
  out += static_cast<char>(count);
  for (std::uint8_t part : first.fg)
    out += static_cast<char>(part);
  for (std::uint8_t part : first.bg)
    out += static_cast<char>(part);
  for (std::size_t i = start; i < start + count; ++i)
    out += static_cast<char>(screen[i].glyph);
}

// How many cells from `start` one run can cover: consecutive cells of `start`'s colours, up to
// the longest run, ending on a cell `wanted` (bridging at most a run header's worth of others).
template <typename Wanted>
std::size_t runLength(const Screen& screen, std::size_t start, Wanted wanted) {
  std::size_t end = start + 1;  // one past the last wanted cell taken
  std::size_t probe = end;
  while (probe < kCells && probe - start < protocol::kLongestRun &&
         screen[probe].sameColours(screen[start]) && probe - end < protocol::kRunHeader) {
    if (wanted(probe)) end = probe + 1;
    ++probe;
  }
  return end - start;
}

// The runs covering every cell `wanted` says, appended to `out`.
template <typename Wanted>
void appendRuns(std::string& out, const Screen& screen, Wanted wanted) {
  for (std::size_t i = 0; i < kCells;) {
    if (!wanted(i)) {
      ++i;
      continue;
    }
    const std::size_t count = runLength(screen, i, wanted);
    appendRun(out, screen, i, count);
    i += count;
  }
}

}  // namespace

Screen captureRoot() {
  // One checked library call per cell and colour costs more than the game's drawing, so the
  // root console is copied with one blit and its cells are read in place. The copy is exact:
  // every cell of the root console is opaque (see Map::draw, which relies on the same).
  static const std::unique_ptr<TCODConsole> copy =
      std::make_unique<TCODConsole>(protocol::kCols, protocol::kRows);
  TCODConsole::blit(TCODConsole::root, 0, 0, protocol::kCols, protocol::kRows, copy.get(), 0, 0);
  const TCOD_ConsoleTile* tiles = copy->get_data()->tiles;
  const int fade = TCODConsole::getFade();
  const TCODColor towards = TCODConsole::getFadingColor();
  const auto shown = [&](const TCOD_ColorRGBA& colour) {
    const TCODColor plain(colour.r, colour.g, colour.b);
    return rgb(fade < 255 ? display::faded(plain, towards, fade) : plain);
  };
  Screen screen(kCells);
  for (std::size_t i = 0; i < kCells; ++i) {
    screen[i].glyph = static_cast<std::uint8_t>(tiles[i].ch & 0xFF);
    screen[i].fg = shown(tiles[i].fg);
    screen[i].bg = shown(tiles[i].bg);
  }
  return screen;
}

std::string fullFrame(const Screen& screen) {
  std::string out{protocol::kFullFrame, static_cast<char>(protocol::kCols),
                  static_cast<char>(protocol::kRows)};
  appendRuns(out, screen, [](std::size_t) { return true; });
  return out;
}

std::string changes(const Screen& before, const Screen& after) {
  std::string out(1, protocol::kChanges);
  appendRuns(out, after, [&](std::size_t i) { return before[i] != after[i]; });
  if (out.size() == 1) out.clear();
  return out;
}

std::optional<Screen> apply(Screen screen, std::string_view message) {
  std::size_t at = 1;
  if (message.empty()) return std::nullopt;
  if (message[0] == protocol::kFullFrame) {
    if (message.size() < 3 || message[1] != protocol::kCols || message[2] != protocol::kRows)
      return std::nullopt;
    at = 3;
    screen.assign(kCells, Cell{});
  } else if (message[0] != protocol::kChanges || screen.size() != kCells) {
    return std::nullopt;
  }
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(message[i]); };
  while (at < message.size()) {
    if (message.size() - at < protocol::kRunHeader) return std::nullopt;
    const std::size_t start = byte(at) | (byte(at + 1) << 8);
    const std::size_t count = byte(at + 2);
    if (count == 0 || start + count > kCells || message.size() - at - protocol::kRunHeader < count)
      return std::nullopt;
    Cell cell;
    cell.fg = {byte(at + 3), byte(at + 4), byte(at + 5)};
    cell.bg = {byte(at + 6), byte(at + 7), byte(at + 8)};
    at += protocol::kRunHeader;
    for (std::size_t i = 0; i < count; ++i) {
      cell.glyph = byte(at++);
      screen[start + i] = cell;
    }
  }
  return screen;
}

std::optional<TCOD_key_t> keyOf(std::string_view message) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
  if (!protocol::isKey(bytes, message.size())) return std::nullopt;
  const std::uint8_t code = bytes[1];
  const bool shift = (bytes[2] & protocol::kShift) != 0;
  if (code >= protocol::kFirstPrintable) {
    const char c = static_cast<char>(code);
    return shift ? keyboard::shiftedKey(unshifted(c)) : keyboard::characterKey(c);
  }
  for (const NamedKey& named : namedKeys) {
    if (named.code != code) continue;
    TCOD_key_t key = keyboard::plainKey(named.vk);
    key.shift = shift;
    return key;
  }
  return std::nullopt;  // isKey admits no other code
}

}  // namespace pipefront

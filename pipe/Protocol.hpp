#pragma once

// The messages between a player's web page, vesperdeep-server and vesperdeep-pipe (the game
// of one player). docs/protocol.md describes them for the page; this header is the one place
// the server and the game's side take their bytes from. It needs nothing but the standard
// library, so the server includes it without the game.

#include <cstddef>
#include <cstdint>

namespace protocol {

constexpr int kCols = 80;
constexpr int kRows = 50;

// Client -> server, and server -> game: one key, 'K' code mods.
constexpr char kKey = 'K';
constexpr std::size_t kKeySize = 3;
// A message larger than this closes the connection (WebSocket close code 1009).
constexpr std::size_t kLargestMessage = 16;
// The key codes that are not printable characters; 0x20..0x7E are the characters themselves.
enum KeyCode : std::uint8_t {
  kEscape = 0x01,
  kEnter = 0x02,
  kUp = 0x03,
  kDown = 0x04,
  kLeft = 0x05,
  kRight = 0x06,
  kHome = 0x07,
};
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kLastPrintable = 0x7E;
constexpr std::uint8_t kShift = 0x01;  // the mods bit of Shift

// Server -> client (the first three come from the game as they are).
constexpr char kFullFrame = 'F';  // 'F' cols rows runs: every cell
constexpr char kChanges = 'D';    // 'D' runs: the cells one flush changed
constexpr char kWaiting = 'W';    // the game waits for a key
constexpr char kNote = 'M';       // 'M' kind text
enum NoteKind : std::uint8_t {
  kNotice = 0,  // the game goes on
  kEnded = 1,   // the game ended normally; the server closes the connection
  kError = 2,   // refused, crashed or lost; the server closes the connection
};
// A run: start u16 little-endian (row * kCols + col), count u8 (1..255), foreground r g b,
// background r g b, then `count` code page 437 glyph bytes.
constexpr std::size_t kRunHeader = 2 + 1 + 3 + 3;
constexpr int kLongestRun = 255;

// Whether `message` is a well-formed key: 'K', a known code, no mods bits beyond Shift.
constexpr bool isKey(const unsigned char* message, std::size_t size) {
  if (size != kKeySize || message[0] != kKey || (message[2] & ~kShift) != 0) return false;
  const std::uint8_t code = message[1];
  return (code >= kEscape && code <= kHome) || (code >= kFirstPrintable && code <= kLastPrintable);
}

// Between the server and its game: the game writes each message as a u32 little-endian length
// and the message itself to its frame descriptor; the server writes keys, 3 bytes each, to the
// game's standard input, one only after the game has said it waits ('W').
constexpr int kFrameFd = 3;
// Game -> server only, never passed on to a client: what a recording needs.
// 'R' token: the key the game has just read, as a key-script token ("h", "<Esc>", "<#65,72,1>").
constexpr char kKeyRead = 'R';
constexpr std::size_t kLongestToken = 15;
// 'S' turns u32, kills u32, state u8: the game as it waits for a key, sent just before 'W'.
constexpr char kStatus = 'S';
constexpr std::size_t kStatusSize = 1 + 4 + 4 + 1;
enum GameState : std::uint8_t {
  kTitle = 0,  // no game: the title screen
  kPlaying = 1,
  kDead = 2,       // the player has died
  kEndScreen = 3,  // the story's end screen
};
constexpr std::uint32_t kLargestGameMessage = 1 + 2 + kCols * kRows * (kRunHeader + 1);

}  // namespace protocol

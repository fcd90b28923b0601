#pragma once

// The messages of a replay (docs/protocol.md, "Replays"): what the page sends to steer the
// replay of a recording, which the server checks and hands on to the replaying game as they
// are, and the position the replaying game reports. Standard library only, for the server.

#include <cstddef>
#include <cstdint>

namespace replaycontrol {

// Page -> server -> game: an operation and a u32 little-endian argument, 5 bytes.
constexpr std::size_t kControlSize = 5;
constexpr char kPlay = 'P';   // play on at the speed of the argument (kSpeeds)
constexpr char kPause = 'H';  // hold (argument 0)
constexpr char kStep = 'N';   // pause, then replay the next key (argument 0)
constexpr char kSeek = 'G';   // show the game after the argument's number of keys (clamped)

// The speeds of kPlay: the recorded pace, four times that, and as fast as frames are drawn.
constexpr std::uint32_t kRecordedPace = 1;
constexpr std::uint32_t kFourTimes = 4;
constexpr std::uint32_t kFastest = 0;

// The argument of a control message.
constexpr std::uint32_t argumentOf(const unsigned char* message) {
  return static_cast<std::uint32_t>(message[1]) | static_cast<std::uint32_t>(message[2]) << 8 |
         static_cast<std::uint32_t>(message[3]) << 16 |
         static_cast<std::uint32_t>(message[4]) << 24;
}

// Whether `message` is a well-formed control: a known operation, a known speed, a zero
// argument where none is taken.
constexpr bool isControl(const unsigned char* message, std::size_t size) {
  if (size != kControlSize) return false;
  const std::uint32_t argument = argumentOf(message);
  switch (message[0]) {
    case kPlay:
      return argument == kRecordedPace || argument == kFourTimes || argument == kFastest;
    case kPause:
    case kStep:
      return argument == 0;
    case kSeek:
      return true;
    default:
      return false;
  }
}

// Game -> server -> page, after the screen of every key shown and every change of pace:
// 'P', keys replayed u32, keys in the recording u32, turns u32, kills u32, speed u8,
// paused u8 (1 when paused or at the end).
constexpr char kPosition = 'P';
constexpr std::size_t kPositionSize = 1 + 4 * 4 + 2;

// vesperdeep-pipe --verify -> server, once: 'V', verdict u8 (1 when the game came to the end
// screen with the turns and kills the recording's end line gives), turns u32, kills u32 (as
// the game came to them).
constexpr char kVerdict = 'V';
constexpr std::size_t kVerdictSize = 1 + 1 + 4 + 4;

}  // namespace replaycontrol

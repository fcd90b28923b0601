#pragma once

// The replay of a finished game in a web page: vesperdeep-pipe --replay FILE plays the
// recording's keys to the game itself, at the recorded pace, four times faster or as fast as
// frames are drawn, and obeys the page's controls (ReplayControl.hpp) on standard input: pause,
// one key, and a seek to any key. A seek forward replays the keys without presenting them; a
// seek back starts the program over (the same process, so the server's hold on it stays) and
// replays from the first key.

#include <cstdint>
#include <string>

namespace pipefront {

// Where and how a replay starts.
struct ReplayStart {
  std::string file;         // the recording
  std::uint32_t at = 0;     // keys replayed before the first frame is shown
  std::uint32_t speed = 1;  // replaycontrol::kRecordedPace, kFourTimes or kFastest
  bool paused = false;      // whether it waits for the page before playing on
};

// The longest wait between two keys at the recorded pace: a player who stopped to think for
// ten minutes is shown thinking for this long.
constexpr std::int64_t kLongestPauseMs = 2000;

// The whole replay program: the recording of `start` replayed on standard input's controls,
// frames and positions out on protocol::kFrameFd, until standard input ends or SIGHUP, SIGINT
// or SIGTERM comes. Returns the exit status: 0 when it ended so, 1 (and one line) when the
// recording cannot replay exactly or the game cannot start.
int replay(const ReplayStart& start);

// vesperdeep-pipe --verify FILE: replays the recording headless, as fast as it goes, and sends
// its verdict (replaycontrol::kVerdict) on protocol::kFrameFd. Returns 0 when the recording
// replayed (whatever the verdict), 1 (and one line) when it cannot.
int verify(const std::string& file);

// The command line of a replay ("--replay FILE [--at N] [--speed 0|1|4] [--paused]"), argv[1]
// being "--replay". False, with one line printed, when it is malformed.
bool parseReplayOptions(int argc, char** argv, ReplayStart& start);

}  // namespace pipefront

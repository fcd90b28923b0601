#pragma once

// The recording of one game the server runs (docs/recordings.md), in the server's data
// directory. It is written to NAME.vdrec.part as the keys come, synced to the disk at most a
// second after each key, and renamed NAME.vdrec when the game ends, with its end line; a crash
// leaves the .part file, which reads as a game that ended abnormally.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "Recording.hpp"

namespace server {

// What the game last said of itself ('S'): its turns, kills and state.
struct GameStatus {
  int turns = 0;
  int kills = 0;
  std::uint8_t state = 0;  // protocol::GameState
};

// The status of an 'S' message, or false when `message` is not one.
bool parseStatus(std::string_view message, GameStatus& status);

class GameRecord {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts the recording of a game on `partition` in `dir`, under a name made of the server's
  // `instance` name, the time, the server's pid and a counter. An empty `dir` records nothing; a
  // file that cannot be made is logged and the game goes on unrecorded.
  GameRecord(const std::string& dir, const std::string& instance, std::uint32_t partition);
  ~GameRecord();
  GameRecord(const GameRecord&) = delete;
  GameRecord& operator=(const GameRecord&) = delete;

  // The game read the key `token`. Returns true when the file holds bytes not yet synced.
  bool keyRead(std::string_view token);
  // The game's state as it waits for a key; only states of a game (not the title) are kept.
  void status(const GameStatus& status);
  // Syncs what has been written (at most once a second is the caller's part).
  void sync();
  // Ends the recording: the end line (died or end screen when the last game's state says so,
  // else `how`), synced, renamed to its final name. Nothing when closed already.
  void close(recording::Ending how);
  // The game's last state, and when its last key came.
  const GameStatus& last() const { return lastStatus; }
  Clock::time_point lastKey() const { return lastKeyAt; }
  // Whether the game is recorded at all.
  bool recording() const { return fd >= 0; }

 private:
  void write(const std::string& text);
  std::int64_t elapsedMs() const;

  int fd = -1;
  std::string partName;
  std::string finalName;
  recording::Writer writer;
  GameStatus lastStatus;
  Clock::time_point startedAt = Clock::now();
  Clock::time_point lastKeyAt = Clock::now();
  Clock::time_point lastSync = Clock::now();
  bool dirty = false;
};

}  // namespace server

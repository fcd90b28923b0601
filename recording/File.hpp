#pragma once

// A recording written to a file while its game is played (vesperdeep-term --record FILE): the
// keys go to FILE.part as they are read, synced to the disk at most a second apart while keys
// come, and the end line closes the file, synced and renamed FILE. A program killed in mid-game
// leaves FILE.part, which reads as a game that ended abnormally.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "Recording.hpp"

namespace recording {

class File {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts the recording of a game on `partition` in `path`.part (replacing one left there).
  // When it cannot be made, ok() is false and error() says why in one line.
  File(std::string path, std::uint32_t partition);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Whether the recording is being written; error() names the first fault otherwise.
  bool ok() const { return fd >= 0; }
  const std::string& error() const { return fault; }

  // The game read the key `token` (a key-script token) now.
  void key(std::string_view token);
  // Ends the recording with `ending`, `turns` and `kills`, syncs it and gives it its final
  // name. False, with error() set, when any of it failed; nothing more is written after.
  bool close(Ending ending, int turns, int kills);

 private:
  void write(const std::string& text);
  void failed(const std::string& what);
  std::int64_t elapsedMs() const;

  int fd = -1;
  std::string finalName;
  std::string partName;
  std::string fault;
  Writer writer;
  Clock::time_point startedAt = Clock::now();
  Clock::time_point lastSync = Clock::now();
};

}  // namespace recording

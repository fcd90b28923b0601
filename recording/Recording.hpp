#pragma once

// A recording of one game: the cave partition and every key the game read, each with the time
// it came, written as a key script (the key lines) with comment lines around the keys (the
// header, the times and checksums, how the game ended). vesperdeep-driver --script plays a
// recording as it is; docs/recordings.md describes the file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace recording {

// How a game ended.
enum class Ending {
  Quit,       // Escape, or the window closed
  Died,       // the player's death
  EndScreen,  // the story's end screen
  HangUp,     // the player went away (the connection closed)
  TimeOut,    // no key for too long
  Abnormal,   // the recording has no end line: the program recording it stopped
};

// The word a recording's end line uses for `ending` ("quit", "died", "end-screen", "hang-up",
// "time-out", "abnormal").
std::string_view endingName(Ending ending);

// The game's version that writes and accepts recordings ("0.1").
std::string_view gameVersion();

// The largest recording read; a larger file is refused before a byte of it is read.
constexpr std::uintmax_t kLargestFile = 16u << 20;

// How a game went, as its end line says.
struct Summary {
  Ending ending = Ending::Abnormal;
  int turns = 0;
  int kills = 0;
  std::int64_t lengthMs = 0;  // from the start of the game to the end line
};

// The lines of a recording, as text to write out in order: header() once, key() for every key,
// end() once. Each piece is whole lines, so a file cut after any piece still reads.
class Writer {
 public:
  explicit Writer(std::uint32_t partition) : partition(partition) {}

  // The header: what the file is, the game's version, the partition, and its checksum.
  std::string header();
  // One key (`token` in the key-script vocabulary: "h", "<Esc>", "<S-h>") read `ms`
  // milliseconds after the start, and the checksum of the file up to it.
  std::string key(std::string_view token, std::int64_t ms);
  // The end line with `summary`, and the checksum of the whole file.
  std::string end(const Summary& summary);

 private:
  // `line` with the checksum of everything written so far, the line included.
  std::string checked(const std::string& line, const std::string& check);

  std::uint32_t partition;
  std::uint32_t sum = 2166136261u;  // FNV-1a of every byte so far
};

// A recording as read.
struct Recording {
  std::uint32_t partition = 0;
  std::vector<std::string> keys;    // key-script tokens, in order
  std::vector<std::int64_t> times;  // each key's milliseconds from the start
  Summary summary;                  // Abnormal (with the last key's time) without an end line

  // The keys as one key script, a key per line.
  std::string script() const;
};

// A recording, or the one line that says why it cannot replay exactly.
struct Loaded {
  std::optional<Recording> recording;
  std::string error;
};

// Reads the text of a recording. Refuses another version's recording, a checksum that does not
// match (a changed byte), a line without its end, a key without its time, anything after the
// end; a recording that stops after a key's time (its program was killed) reads as Abnormal.
Loaded parse(std::string_view text);

// Reads the recording in the file `path`; the error line starts with `path`. A file larger than
// kLargestFile is refused by its size.
Loaded load(const std::string& path);

}  // namespace recording

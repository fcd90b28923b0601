#pragma once

#include <deque>
#include <string>

// The sentences that tell the player what happened, newest first, at most 20; shown in the box
// under the level, newest at the bottom.
class MessageLog {
 public:
  struct Entry {
    std::string text;  // may hold line breaks and colour control codes
    int height;        // lines it takes wrapped into a 40 x 5 box
  };

  static constexpr std::size_t kCapacity = 20;

  // Measures `text` on the root console and keeps a copy at the front, dropping the oldest
  // entry when the log is full.
  void add(const std::string& text);
  // Clears the box (columns 0-39, rows 44-49) and prints the newest entries upward from row 48;
  // the entry that overflows the box is still printed, over the bottom rows of the level.
  void draw() const;

  const std::deque<Entry>& entries() const { return log; }

 private:
  std::deque<Entry> log;  // newest first
};

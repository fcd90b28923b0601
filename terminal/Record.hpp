#pragma once

// vesperdeep-term --record FILE: the game in the terminal recorded as the server records its
// games (docs/recordings.md), each key as the game reads it.

#include <libtcod.hpp>

#include <cstdint>
#include <string>

#include "File.hpp"

class App;

namespace terminal {

class Recorder {
 public:
  // Starts recording a game on `partition` in `path` (written as `path`.part until it ends).
  Recorder(const std::string& path, std::uint32_t partition) : file(path, partition) {}

  // Whether the recording is written; error() is its one line when not.
  bool ok() const { return file.ok(); }
  const std::string& error() const { return file.error(); }

  // The game is about to read a key: its turns, kills and state are noted for the end line.
  void waiting(const App& app);
  // The game read `key`; no key at all (the terminal went away) is noted as a hang-up.
  void read(const TCOD_key_t& key);
  // The game has ended: the end line (died or the end screen when the last game's state says
  // so, else quit or hang-up). False when the recording could not be finished.
  bool finish();

 private:
  recording::File file;
  int turns = 0;
  int kills = 0;
  recording::Ending state = recording::Ending::Quit;
  bool hungUp = false;
};

}  // namespace terminal

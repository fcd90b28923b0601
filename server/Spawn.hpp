#pragma once

// Starting one player's game: vesperdeep-pipe in a child process of its own, confined.

#include <sys/types.h>

#include <string>
#include <vector>

#include "Options.hpp"

namespace server {

// A started game: its process (also its process group) and the server's ends of its pipes.
struct Spawned {
  pid_t pid = -1;
  int keysFd = -1;    // written by the server: the game's standard input
  int framesFd = -1;  // read by the server: the game's frame descriptor
};

// Starts `program` (an absolute path) as a game: its own process group, killed when the server
// dies (PR_SET_PDEATHSIG), a clean environment (SDL's dummy drivers and the variables of
// `options.passEnv`), the resource limits of `options.limits` (address space, processor time,
// open files, no core file), standard output to /dev/null, standard error shared with the
// server, no other descriptor of the server, working directory the program's own. Returns
// pid -1 and the cause in `why` when it cannot. `extra` arguments follow the partition's.
Spawned spawnGame(const std::string& program, const Options& options, std::string& why,
                  const std::vector<std::string>& extra = {});

// The absolute path of vesperdeep-pipe beside the running server, or an empty string.
std::string gameProgram();

}  // namespace server

// vesperdeep-term: the game in a terminal (see terminal/Terminal.hpp and vesperdeep-term(6)).

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "App.hpp"
#include "Terminal.hpp"

namespace {

const char* const kUsage =
    "usage: vesperdeep-term [--partition N] [--record FILE]\n"
    "Plays Vesperdeep in this terminal (at least 80 x 50). Keys as in the window game.\n"
    "  --partition N   the cave partition seed (0 to 4294967295), to replay a cave exactly as\n"
    "                  vesperdeep-driver --partition N does; otherwise every game differs\n"
    "  --record FILE   record the game in FILE (FILE.part while it is played), to replay with\n"
    "                  vesperdeep-driver --recording FILE\n";

// Takes --record FILE out of `args` into `path`; false (one line printed) when FILE is missing
// or given twice.
bool takeRecordOption(std::vector<char*>& args, std::string& path) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (std::strcmp(args[i], "--record") != 0) continue;
    if (i + 1 >= args.size() || args[i + 1][0] == '\0' || !path.empty()) {
      std::fprintf(stderr,
                   "vesperdeep-term: --record needs one FILE (see vesperdeep-term --help)\n");
      return false;
    }
    path = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    --i;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string record;
  if (!takeRecordOption(args, record)) return 64;
  std::optional<std::uint32_t> partition;
  if (int status = 0; !parsePartitionOption(
          "vesperdeep-term", kUsage, static_cast<int>(args.size()), args.data(), partition, status))
    return status;
  return terminal::play(partition, nullptr, record);
}

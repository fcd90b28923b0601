// vesperdeep-term: the game in a terminal (see terminal/Terminal.hpp and vesperdeep-term(6)).

#include <cstdint>
#include <optional>

#include "App.hpp"
#include "Terminal.hpp"

namespace {

const char* const kUsage =
    "usage: vesperdeep-term [--partition N]\n"
    "Plays Vesperdeep in this terminal (at least 80 x 50). Keys as in the window game.\n"
    "  --partition N   the cave partition seed (0 to 4294967295), to replay a cave exactly as\n"
    "                  vesperdeep-driver --partition N does; otherwise every game differs\n";

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::uint32_t> partition;
  if (int status = 0;
      !parsePartitionOption("vesperdeep-term", kUsage, argc, argv, partition, status))
    return status;
  return terminal::play(partition);
}

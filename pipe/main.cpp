// vesperdeep-pipe: one web player's game, started by vesperdeep-server (see pipe/Link.hpp).

#include <fcntl.h>

#include <cstdint>
#include <cstdio>
#include <optional>

#include "App.hpp"
#include "Link.hpp"
#include "Protocol.hpp"

namespace {

const char* const kUsage =
    "usage: vesperdeep-pipe [--partition N]\n"
    "Plays one game of Vesperdeep for vesperdeep-server: keys (3 bytes each) on standard input,\n"
    "frames on descriptor 3 (see docs/protocol.md). Not meant to be started by hand.\n"
    "  --partition N   the cave partition seed (0 to 4294967295), as vesperdeep-driver's\n";

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::uint32_t> partition;
  if (int status = 0;
      !parsePartitionOption("vesperdeep-pipe", kUsage, argc, argv, partition, status))
    return status;
  if (fcntl(protocol::kFrameFd, F_GETFD) < 0) {
    std::fprintf(stderr, "vesperdeep-pipe: descriptor %d (the frames) is not open\n",
                 protocol::kFrameFd);
    return 1;
  }
  return pipefront::play(partition);
}

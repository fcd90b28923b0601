// vesperdeep-pipe: one web player's game, started by vesperdeep-server (see pipe/Link.hpp).

#include <fcntl.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "App.hpp"
#include "Link.hpp"
#include "Protocol.hpp"
#include "Replay.hpp"

namespace {

const char* const kUsage =
    "usage: vesperdeep-pipe [--partition N]\n"
    "       vesperdeep-pipe --replay FILE [--at N] [--speed 0|1|4] [--paused]\n"
    "       vesperdeep-pipe --verify FILE\n"
    "Plays one game of Vesperdeep for vesperdeep-server: keys (3 bytes each) on standard input,\n"
    "frames on descriptor 3 (see docs/protocol.md). Not meant to be started by hand.\n"
    "  --partition N   the cave partition seed (0 to 4294967295), as vesperdeep-driver's\n"
    "  --replay FILE   replays a recording, steered by 5-byte controls on standard input\n"
    "  --verify FILE   replays a recording headless and sends whether it reached its end screen\n";

bool framesOpen() {
  if (fcntl(protocol::kFrameFd, F_GETFD) >= 0) return true;
  std::fprintf(stderr, "vesperdeep-pipe: descriptor %d (the frames) is not open\n",
               protocol::kFrameFd);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--replay") {
    pipefront::ReplayStart start;
    if (!pipefront::parseReplayOptions(argc, argv, start)) return 64;
    return framesOpen() ? pipefront::replay(start) : 1;
  }
  if (argc == 3 && std::string_view(argv[1]) == "--verify")
    return framesOpen() ? pipefront::verify(argv[2]) : 1;
  std::optional<std::uint32_t> partition;
  if (int status = 0;
      !parsePartitionOption("vesperdeep-pipe", kUsage, argc, argv, partition, status))
    return status;
  return framesOpen() ? pipefront::play(partition) : 1;
}

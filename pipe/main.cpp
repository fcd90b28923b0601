// vesperdeep-pipe: one web player's game, started by vesperdeep-server (see pipe/Link.hpp).

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "Link.hpp"
#include "Protocol.hpp"

namespace {

const char* const kUsage =
    "usage: vesperdeep-pipe [--partition N]\n"
    "Plays one game of Vesperdeep for vesperdeep-server: keys (3 bytes each) on standard input,\n"
    "frames on descriptor 3 (see docs/protocol.md). Not meant to be started by hand.\n"
    "  --partition N   the cave partition seed (0 to 4294967295), as vesperdeep-driver's\n";

// The options: none, or --partition N. Prints the usage and returns false when that is not
// what was given (`status` 0 for --help).
bool parseOptions(int argc, char** argv, std::optional<std::uint32_t>& partition, int& status) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      status = 0;
      return false;
    }
    if (std::strcmp(argv[i], "--partition") == 0 && i + 1 < argc) {
      const std::string text = argv[++i];
      char* end = nullptr;
      errno = 0;
      const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
      if (!text.empty() && text[0] != '-' && *end == '\0' && errno == 0 && value <= UINT32_MAX) {
        partition = static_cast<std::uint32_t>(value);
        continue;
      }
      std::fprintf(stderr,
                   "vesperdeep-pipe: --partition needs a number from 0 to 4294967295, not \"%s\"\n",
                   text.c_str());
    } else {
      std::fprintf(stderr, "vesperdeep-pipe: unknown option %s (see vesperdeep-pipe --help)\n",
                   argv[i]);
    }
    status = 64;
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::uint32_t> partition;
  if (int status = 0; !parseOptions(argc, argv, partition, status)) return status;
  if (fcntl(protocol::kFrameFd, F_GETFD) < 0) {
    std::fprintf(stderr, "vesperdeep-pipe: descriptor %d (the frames) is not open\n",
                 protocol::kFrameFd);
    return 1;
  }
  return pipefront::play(partition);
}

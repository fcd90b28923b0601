// vesperdeep-term: the game in a terminal (see terminal/Terminal.hpp and vesperdeep-term(6)).

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "Terminal.hpp"

namespace {

const char* const kUsage =
    "usage: vesperdeep-term [--partition N]\n"
    "Plays Vesperdeep in this terminal (at least 80 x 50). Keys as in the window game.\n"
    "  --partition N   the cave partition seed (0 to 4294967295), to replay a cave exactly as\n"
    "                  vesperdeep-driver --partition N does; otherwise every game differs\n";

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
                   "vesperdeep-term: --partition needs a number from 0 to 4294967295, "
                   "not \"%s\"\n",
                   text.c_str());
    } else {
      std::fprintf(stderr, "vesperdeep-term: unknown option %s (see vesperdeep-term --help)\n",
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
  return terminal::play(partition);
}

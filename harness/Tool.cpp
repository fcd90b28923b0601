#include "Tool.hpp"

#include <cstdlib>
#include <exception>
#include <iostream>

namespace harness {

void usageError(std::string_view program, const std::string& why) {
  std::cerr << program << ": " << why << "\n(see " << program << " --help)\n";
  std::exit(kExitUsage);
}

CommandLine::CommandLine(std::string_view program, std::string_view usage, int argc, char** argv)
    : program(program), usage(usage), argc(argc), argv(argv) {}

bool CommandLine::next() {
  if (++index >= argc) return false;
  option = argv[index];
  if (option == "--help" || option == "-h") {
    std::cout << usage;
    std::exit(kExitDone);
  }
  return true;
}

bool CommandLine::is(std::string_view name) const {
  return option == name;
}

std::string CommandLine::text() {
  if (index + 1 >= argc) fail(option + " needs a value");
  return argv[++index];
}

long long CommandLine::number(long long min, long long max) {
  return numberIn(text(), min, max);
}

long long CommandLine::numberIn(const std::string& value, long long min, long long max) const {
  try {
    std::size_t used = 0;
    const long long n = std::stoll(value, &used, 10);
    if (used == value.size() && n >= min && n <= max) return n;
  } catch (const std::exception&) {
  }
  fail(option + " needs a number from " + std::to_string(min) + " to " + std::to_string(max) +
       ", not \"" + value + "\"");
}

void CommandLine::unknown() const {
  fail("unknown option " + option);
}

void CommandLine::fail(const std::string& why) const {
  usageError(program, why);
}

void preferHeadlessDrivers() {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
}

}  // namespace harness

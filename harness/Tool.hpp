#pragma once

// What the tools around the game share (the play driver, the bot and the benchmark programs):
// their exit statuses, their command line and their headless start.

#include <string>
#include <string_view>

namespace harness {

// The exit status of every tool.
enum ExitStatus : int {
  kExitDone = 0,
  kExitFailed = 1,  // the game could not start (no font sheet), or the run fell short of
                    // what was asked (the bot: fewer end screens than --min-end)
  kExitBroken = 2,  // a game broke one of its rules (the bot: or crashed, hung, would not
                    // end or was given a key a player would not press)
  kExitHang = 3,    // one key took longer than the watchdog allows
  kExitNoEnd = 4,   // Escape did not end the game
  kExitUsage = 64,  // bad arguments
};

// Prints "PROGRAM: WHY" and a pointer to --help on stderr and ends the program with kExitUsage.
[[noreturn]] void usageError(std::string_view program, const std::string& why);

// A tool's command line: options, each a flag or followed by one value. --help and -h print
// the usage text and end the program with kExitDone; a missing or malformed value, or an option
// the tool does not know, ends it through usageError.
//
//   CommandLine line("vesperdeep-driver", kUsage, argc, argv);
//   while (line.next()) {
//     if (line.is("--keys")) keys = line.number(1, 1000);
//     else line.unknown();
//   }
class CommandLine {
 public:
  CommandLine(std::string_view program, std::string_view usage, int argc, char** argv);

  // Moves to the next option; false when there is none left.
  bool next();
  // Whether the current option is `name`.
  bool is(std::string_view name) const;
  // The value that follows the current option.
  std::string text();
  // The value that follows the current option, a whole number from `min` to `max`.
  long long number(long long min, long long max);
  // `value`, given to the current option, as a whole number from `min` to `max`.
  long long numberIn(const std::string& value, long long min, long long max) const;
  // Ends the program: the current option is none of the tool's.
  [[noreturn]] void unknown() const;
  // Ends the program with `why`.
  [[noreturn]] void fail(const std::string& why) const;

 private:
  std::string_view program;
  std::string_view usage;
  int argc;
  char** argv;
  int index = 0;
  std::string option;
};

// Runs the game headless: SDL's dummy video and audio drivers, unless the environment already
// names others.
void preferHeadlessDrivers();

}  // namespace harness

// vesperdeep-bot: lets the Autoplayer play Vesperdeep headless on a range of cave partitions and
// sums up how the games ended.
//
// Every game runs in its own child process: the game's rand() is seeded once per process (the
// App seeds it with 0), so a fresh process per game makes each game depend only on its
// partition, and a crash, a hang or a sanitizer report in one game is reported as that game's
// ending instead of taking the whole run down.

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BotGame.hpp"
#include "KeyToken.hpp"
#include "Recording.hpp"
#include "Tool.hpp"

namespace {

using namespace harness;

constexpr std::string_view kProgram = "vesperdeep-bot";

const char* const kUsage = R"(usage: vesperdeep-bot [options]
Lets the autoplayer play Vesperdeep headless (SDL's dummy video driver unless SDL_VIDEODRIVER
is set), one game per cave partition, each in its own process, with the game's invariants
checked after every key. Prints one line per game and a summary.

  --partitions A-B  the cave partitions to play, A to B inclusive (default 1-100); a single
                    number plays one
  --jobs N          games played at once (default 1)
  --timeout S       a game running longer than S seconds counts as hung (default 900)
  --keys N          a game needing more keys than N counts as stuck (default 40000)
  --min-end N       exit with status 1 unless at least N games reach the end screen
                    (default 0)
  --trace P         play partition P in this process and print every key with the bot's
                    reason for it
  --record FILE     play the one partition of --partitions in this process and write the
                    game as a recording (docs/recordings.md) to FILE: every key the game read
                    with its time, and how the game ended; it replays in vesperdeep-driver
                    --recording and plays through the server's /play as a key script

Exit status: 0 done, 1 fewer end screens than --min-end, 2 a game crashed, hung, broke an
invariant, drew a sanitizer report or would not end, or the bot pressed a key other than the
letters, "." and Escape; 64 bad arguments.
)";

struct Options {
  std::uint32_t first = 1;
  std::uint32_t last = 100;
  int jobs = 1;
  unsigned timeoutSeconds = 900;
  long long keyBudget = 40000;
  int minEnd = 0;
  std::optional<std::uint32_t> trace;
  std::optional<std::string> record;
};

Options parseOptions(int argc, char** argv) {
  Options options;
  CommandLine line(kProgram, kUsage, argc, argv);
  while (line.next()) {
    if (line.is("--partitions")) {
      const std::string range = line.text();
      const std::size_t dash = range.find('-');
      const std::string from = range.substr(0, dash);
      const std::string to = dash == std::string::npos ? from : range.substr(dash + 1);
      options.first = static_cast<std::uint32_t>(line.numberIn(from, 0, UINT32_MAX));
      options.last = static_cast<std::uint32_t>(line.numberIn(to, options.first, UINT32_MAX));
    } else if (line.is("--jobs")) {
      options.jobs = static_cast<int>(line.number(1, 64));
    } else if (line.is("--timeout")) {
      options.timeoutSeconds = static_cast<unsigned>(line.number(1, 86400));
    } else if (line.is("--keys")) {
      options.keyBudget = line.number(1, 100000000);
    } else if (line.is("--min-end")) {
      options.minEnd = static_cast<int>(line.number(0, 1000000));
    } else if (line.is("--trace")) {
      options.trace = static_cast<std::uint32_t>(line.number(0, UINT32_MAX));
    } else if (line.is("--record")) {
      options.record = line.text();
    } else {
      line.unknown();
    }
  }
  if (options.record && options.first != options.last)
    usageError(kProgram, "--record plays one partition: give --partitions P");
  return options;
}

// A game as the parent saw it: the child's report, or what became of the child.
struct Outcome {
  GameReport report;
  std::string cause;    // describeEnding, or "crash ...", "hang ..."
  bool broken = false;  // crashed, hung, broke an invariant, drew a sanitizer report, would
                        // not end, or the bot pressed a key it must not
};

struct Child {
  pid_t pid;
  std::uint32_t partition;
  int readEnd;  // the pipe the child writes its report to
};

// Starts the game on `partition` in a child process that writes its report down a pipe.
Child startGame(std::uint32_t partition, const Options& options) {
  int fds[2];
  if (pipe(fds) != 0) {
    std::perror("vesperdeep-bot: pipe");
    std::exit(kExitBroken);
  }
  std::cout.flush();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("vesperdeep-bot: fork");
    std::exit(kExitBroken);
  }
  if (pid == 0) {
    close(fds[0]);
    alarm(options.timeoutSeconds);  // a hung game is killed by SIGALRM
    const int out = fds[1];
    const ReportSink sink = [out](const GameReport& report) {
      const std::string line = serialize(report) + "\n";
      if (write(out, line.data(), line.size()) < 0) std::perror("vesperdeep-bot: write");
    };
    PlayLimits limits;
    limits.keyBudget = options.keyBudget;
    const GameReport report = playGame(partition, limits, sink, nullptr);
    close(out);
    std::exit(report.ending == Ending::NoWindow ? kExitBroken : kExitDone);
  }
  close(fds[1]);
  return {pid, partition, fds[0]};
}

std::string readAll(int fd) {
  std::string text;
  char buffer[512];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  close(fd);
  return text;
}

Outcome judgeChild(const Child& child, int status, const Options& options) {
  Outcome outcome;
  const std::optional<GameReport> report = deserialize(readAll(child.readEnd));
  if (report) {
    outcome.report = *report;
  } else {
    outcome.report.partition = child.partition;
  }
  outcome.cause = report ? describeEnding(*report) : "no report";
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    outcome.broken = true;
    outcome.cause = signal == SIGALRM
                        ? "hang (over " + std::to_string(options.timeoutSeconds) + " s)"
                        : "crash (signal " + std::to_string(signal) + ")";
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    outcome.broken = true;
    const int code = WEXITSTATUS(status);
    if (code == kExitNoEnd) {
      outcome.cause = "Escape did not end the game (after " + outcome.cause + ")";
    } else if (!(report && report->ending == Ending::Invariant && code == kExitBroken)) {
      outcome.cause = "crash or sanitizer report (exit " + std::to_string(code) + ", after " +
                      outcome.cause + ")";
    }
  } else if (!report || report->ending == Ending::Invariant || report->ending == Ending::BadKey) {
    outcome.broken = true;
  }
  return outcome;
}

void printGame(const Outcome& outcome) {
  const GameReport& report = outcome.report;
  std::cout << "partition " << std::setw(4) << report.partition << "  " << std::left
            << std::setw(24) << outcome.cause << std::right << "  turns " << std::setw(5)
            << report.turns << "  kills " << std::setw(2) << report.kills << "  keys "
            << std::setw(6) << report.keys << std::endl;
  if (report.ending == Ending::Invariant) std::cout << "  broken: " << report.detail << std::endl;
}

double mean(const std::vector<int>& values) {
  if (values.empty()) return 0.0;
  double total = 0.0;
  for (int value : values)
    total += value;
  return total / static_cast<double>(values.size());
}

void printSummary(const std::vector<Outcome>& outcomes) {
  std::map<std::string, int> causes;
  std::vector<int> turns;
  std::vector<int> kills;
  std::vector<int> endTurns;
  std::vector<int> endKills;
  int ends = 0;
  for (const Outcome& outcome : outcomes) {
    ++causes[outcome.cause];
    turns.push_back(outcome.report.turns);
    kills.push_back(outcome.report.kills);
    if (!outcome.broken && outcome.report.ending == Ending::EndScreen) {
      ++ends;
      endTurns.push_back(outcome.report.turns);
      endKills.push_back(outcome.report.kills);
    }
  }
  const auto games = outcomes.size();
  std::cout << std::fixed << std::setprecision(1) << "\n"
            << "games " << games << ", reached the end screen " << ends << " ("
            << (games > 0 ? 100.0 * ends / static_cast<double>(games) : 0.0) << "%)\n"
            << "endings:";
  for (const auto& [cause, count] : causes)
    std::cout << "\n  " << std::setw(4) << count << "  " << cause;
  std::cout << "\nmean turns " << mean(turns) << ", mean kills " << mean(kills) << " (all games)\n"
            << "mean turns " << mean(endTurns) << ", mean kills " << mean(endKills)
            << " (games that reached the end screen)\n";
  if (!turns.empty()) {
    std::cout << "turns from " << *std::min_element(turns.begin(), turns.end()) << " to "
              << *std::max_element(turns.begin(), turns.end()) << "\n";
  }
  std::cout.flush();
}

int traceOne(std::uint32_t partition, const Options& options) {
  PlayLimits limits;
  limits.keyBudget = options.keyBudget;
  const ReportSink sink = [](const GameReport& report) {
    std::cout << "ending: " << describeEnding(report) << ", turns " << report.turns << ", kills "
              << report.kills << ", keys " << report.keys << std::endl;
    if (report.ending == Ending::Invariant) std::cout << report.detail << std::endl;
  };
  const GameReport report = playGame(partition, limits, sink, &std::cout);
  return report.ending == Ending::EndScreen ? kExitDone : kExitFailed;
}

// How a recording's end line names the way a bot's game ended.
recording::Ending recordedEnding(Ending ending) {
  switch (ending) {
    case Ending::EndScreen:
      return recording::Ending::EndScreen;
    case Ending::Killed:
    case Ending::Starved:
      return recording::Ending::Died;
    default:
      return recording::Ending::Quit;
  }
}

// Plays the one partition in this process and writes its recording to `path`, key by key, so
// that a game that breaks an invariant (and ends the process at once) leaves a recording without
// an end line.
int recordOne(std::uint32_t partition, const std::string& path, const Options& options) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::cerr << kProgram << ": cannot write " << path << "\n";
    return kExitBroken;
  }
  recording::Writer writer(partition);
  out << writer.header();
  const auto start = std::chrono::steady_clock::now();
  const auto sinceStart = [&start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  };
  const KeySink keys = [&](const TCOD_key_t& key) {
    out << writer.key(recording::keyToken(key), sinceStart()) << std::flush;
  };
  PlayLimits limits;
  limits.keyBudget = options.keyBudget;
  const GameReport report = playGame(partition, limits, nullptr, nullptr, keys);
  out << writer.end({recordedEnding(report.ending), report.turns, report.kills, sinceStart()});
  out.close();
  if (!out) {
    std::cerr << kProgram << ": cannot write " << path << "\n";
    return kExitBroken;
  }
  std::cout << "partition " << partition << ": " << describeEnding(report) << ", turns "
            << report.turns << ", kills " << report.kills << ", keys " << report.keys << std::endl;
  if (report.ending == Ending::NoWindow || report.ending == Ending::BadKey) return kExitBroken;
  return report.ending == Ending::EndScreen ? kExitDone : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  preferHeadlessDrivers();
  if (options.trace) return traceOne(*options.trace, options);
  if (options.record) return recordOne(options.first, *options.record, options);

  std::cout << "vesperdeep-bot: partitions " << options.first << " to " << options.last << ", "
            << options.jobs << " at a time" << std::endl;
  std::vector<Outcome> outcomes;
  std::map<pid_t, Child> running;
  std::uint32_t next = options.first;
  bool more = true;
  while (more || !running.empty()) {
    while (more && static_cast<int>(running.size()) < options.jobs) {
      const Child child = startGame(next, options);
      running.emplace(child.pid, child);
      more = next++ != options.last;
    }
    int status = 0;
    const pid_t done = waitpid(-1, &status, 0);
    if (done < 0) {
      if (errno == EINTR) continue;
      std::perror("vesperdeep-bot: waitpid");
      return kExitBroken;
    }
    const auto found = running.find(done);
    if (found == running.end()) continue;
    outcomes.push_back(judgeChild(found->second, status, options));
    running.erase(found);
    printGame(outcomes.back());
  }
  std::sort(outcomes.begin(), outcomes.end(), [](const Outcome& a, const Outcome& b) {
    return a.report.partition < b.report.partition;
  });
  printSummary(outcomes);

  const bool anyBroken = std::any_of(outcomes.begin(), outcomes.end(),
                                     [](const Outcome& outcome) { return outcome.broken; });
  const auto ends = std::count_if(outcomes.begin(), outcomes.end(), [](const Outcome& outcome) {
    return !outcome.broken && outcome.report.ending == Ending::EndScreen;
  });
  if (anyBroken) return kExitBroken;
  if (ends < options.minEnd) {
    std::cout << "fewer than " << options.minEnd << " games reached the end screen" << std::endl;
    return kExitFailed;
  }
  return kExitDone;
}

#include "Recording.hpp"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace recording {
namespace {

constexpr std::string_view kTitle = "# vesperdeep recording";
constexpr std::string_view kVersion = "# version ";
constexpr std::string_view kPartition = "# partition ";
constexpr std::string_view kEnd = "# end ";
constexpr std::string_view kKeyCheck = "#@";    // "#@MS SUM" after each key
constexpr std::string_view kPlainCheck = "#=";  // "#= SUM" after the header and the end

struct EndingWord {
  Ending ending;
  std::string_view word;
};
constexpr std::array<EndingWord, 6> kEndings = {{
    {Ending::Quit, "quit"},
    {Ending::Died, "died"},
    {Ending::EndScreen, "end-screen"},
    {Ending::HangUp, "hang-up"},
    {Ending::TimeOut, "time-out"},
    {Ending::Abnormal, "abnormal"},
}};

std::uint32_t fnv1a(std::uint32_t sum, std::string_view bytes) {
  for (char c : bytes) {
    sum ^= static_cast<unsigned char>(c);
    sum *= 16777619u;
  }
  return sum;
}

std::string hex(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

// `text` as a whole number no larger than `max`, or nothing.
std::optional<std::uint64_t> number(std::string_view text, std::uint64_t max) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// Whether `line` is one key of a key script: a printable character that is neither '<' nor
// '#', or one name in angle brackets.
bool isKeyToken(std::string_view line) {
  for (char c : line) {
    if (c < ' ' || c > '~') return false;
  }
  if (line.size() == 1) return line[0] != '<' && line[0] != '#';
  return line.size() >= 3 && line.front() == '<' && line.back() == '>' &&
         line.find('>') == line.size() - 1 && line.find('<', 1) == std::string_view::npos;
}

std::optional<Ending> endingNamed(std::string_view word) {
  for (const EndingWord& entry : kEndings) {
    if (entry.word == word && entry.ending != Ending::Abnormal) return entry.ending;
  }
  return std::nullopt;
}

// "WHY turns N kills M length MS" (the end line after "# end ").
std::optional<Summary> parseSummary(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::string why, turnsWord, turns, killsWord, kills, lengthWord, length, extra;
  in >> why >> turnsWord >> turns >> killsWord >> kills >> lengthWord >> length;
  if (!in || (in >> extra) || turnsWord != "turns" || killsWord != "kills" ||
      lengthWord != "length")
    return std::nullopt;
  const auto ending = endingNamed(why);
  const auto turnCount = number(turns, 1u << 30);
  const auto killCount = number(kills, 1u << 30);
  const auto ms = number(length, INT64_MAX);
  if (!ending || !turnCount || !killCount || !ms) return std::nullopt;
  return Summary{*ending, static_cast<int>(*turnCount), static_cast<int>(*killCount),
                 static_cast<std::int64_t>(*ms)};
}

// The lines of a recording, one at a time, with the checksum of everything before each.
class Lines {
 public:
  explicit Lines(std::string_view text) : text(text) {}

  bool atEnd() const { return at == text.size(); }
  std::size_t number() const { return count; }
  std::uint32_t sumBefore() const { return sumBeforeLine; }

  // The next whole line without its '\n'; nothing at the end or for a line cut short.
  std::optional<std::string_view> next() {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(at, end - at);
    sumBeforeLine = sum;
    sum = fnv1a(sum, text.substr(at, end + 1 - at));
    at = end + 1;
    ++count;
    return line;
  }

 private:
  std::string_view text;
  std::size_t at = 0;
  std::size_t count = 0;
  std::uint32_t sum = 2166136261u;
  std::uint32_t sumBeforeLine = 2166136261u;
};

// Reads a recording line by line; the first fault found is the one reported.
class Reader {
 public:
  explicit Reader(std::string_view text) : lines(text) {}

  Loaded read() {
    if (!header()) return failed();
    while (!lines.atEnd() && error.empty()) {
      const std::optional<std::string_view> line = lines.next();
      if (!line) {
        fault("is cut short");
        return failed();
      }
      if (line->substr(0, kEnd.size()) == kEnd) {
        ending(line->substr(kEnd.size()));
        return failed();
      }
      keyLine(*line);
    }
    if (!error.empty()) return failed();
    result.summary.ending = Ending::Abnormal;
    result.summary.lengthMs = result.times.empty() ? 0 : result.times.back();
    return Loaded{result, ""};
  }

 private:
  bool header() {
    const auto title = lines.next();
    if (!title || *title != kTitle) {
      error = "is not a vesperdeep recording";
      return false;
    }
    const auto version = lines.next();
    if (!version || version->substr(0, kVersion.size()) != kVersion) return fault("has no version");
    const std::string_view written = version->substr(kVersion.size());
    if (written != gameVersion()) {
      error = "was recorded by version " + std::string(written) + " of the game; this is version " +
              std::string(gameVersion());
      return false;
    }
    const auto partition = lines.next();
    const auto seed = partition && partition->substr(0, kPartition.size()) == kPartition
                          ? number(partition->substr(kPartition.size()), UINT32_MAX)
                          : std::nullopt;
    if (!seed) return fault("has no partition");
    result.partition = static_cast<std::uint32_t>(*seed);
    return plainCheck();
  }

  void keyLine(std::string_view line) {
    if (!isKeyToken(line)) {
      fault("has something that is not a key");
      return;
    }
    const std::optional<std::string_view> check = lines.next();
    if (!check || check->substr(0, kKeyCheck.size()) != kKeyCheck) {
      fault("has a key without its time");
      return;
    }
    const std::string_view rest = check->substr(kKeyCheck.size());
    const std::size_t space = rest.find(' ');
    const auto ms = number(rest.substr(0, space), INT64_MAX);
    const std::int64_t last = result.times.empty() ? 0 : result.times.back();
    if (space == std::string_view::npos || !ms || static_cast<std::int64_t>(*ms) < last ||
        !sumMatches(rest.substr(space + 1))) {
      fault("is damaged (a time or checksum does not match)");
      return;
    }
    result.keys.emplace_back(line);
    result.times.push_back(static_cast<std::int64_t>(*ms));
  }

  void ending(std::string_view text) {
    const std::optional<Summary> summary = parseSummary(text);
    if (!summary) {
      fault("is damaged (its end line)");
      return;
    }
    if (!plainCheck()) return;
    if (!lines.atEnd()) {
      fault("goes on after its end");
      return;
    }
    result.summary = *summary;
  }

  bool plainCheck() {
    const std::optional<std::string_view> check = lines.next();
    if (!check || check->substr(0, kPlainCheck.size()) != kPlainCheck ||
        check->size() < kPlainCheck.size() + 1 || (*check)[kPlainCheck.size()] != ' ' ||
        !sumMatches(check->substr(kPlainCheck.size() + 1)))
      return fault("is damaged (a checksum does not match)");
    return true;
  }

  bool sumMatches(std::string_view written) const { return written == hex(lines.sumBefore()); }

  bool fault(const std::string& what) {
    if (error.empty()) error = what + " at line " + std::to_string(lines.number());
    return false;
  }

  Loaded failed() const {
    if (error.empty()) return Loaded{result, ""};
    return Loaded{std::nullopt, error};
  }

  Lines lines;
  Recording result;
  std::string error;
};

}  // namespace

std::string_view endingName(Ending ending) {
  for (const EndingWord& entry : kEndings) {
    if (entry.ending == ending) return entry.word;
  }
  return "abnormal";
}

std::string_view gameVersion() {
  return VESPERDEEP_VERSION;
}

std::string Writer::checked(const std::string& line, const std::string& check) {
  sum = fnv1a(sum, line);
  const std::string checkLine = check + hex(sum) + "\n";
  sum = fnv1a(sum, checkLine);
  return line + checkLine;
}

std::string Writer::header() {
  const std::string lines = std::string(kTitle) + "\n" + std::string(kVersion) +
                            std::string(gameVersion()) + "\n" + std::string(kPartition) +
                            std::to_string(partition) + "\n";
  return checked(lines, std::string(kPlainCheck) + " ");
}

std::string Writer::key(std::string_view token, std::int64_t ms) {
  return checked(std::string(token) + "\n", std::string(kKeyCheck) + std::to_string(ms) + " ");
}

std::string Writer::end(const Summary& summary) {
  const std::string line = std::string(kEnd) + std::string(endingName(summary.ending)) + " turns " +
                           std::to_string(summary.turns) + " kills " +
                           std::to_string(summary.kills) + " length " +
                           std::to_string(summary.lengthMs) + "\n";
  return checked(line, std::string(kPlainCheck) + " ");
}

std::string Recording::script() const {
  std::string text;
  for (const std::string& key : keys)
    text += key + "\n";
  return text;
}

Loaded parse(std::string_view text) {
  return Reader(text).read();
}

Loaded load(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return Loaded{std::nullopt, path + ": cannot be read"};
  if (static_cast<std::uintmax_t>(info.st_size) > kLargestFile) {
    return Loaded{std::nullopt, path + ": is larger than " + std::to_string(kLargestFile >> 20) +
                                    " MiB, more than any game records"};
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in && !in.eof()) return Loaded{std::nullopt, path + ": cannot be read"};
  Loaded loaded = parse(text.str());
  if (!loaded.recording) loaded.error = path + ": " + loaded.error;
  return loaded;
}

}  // namespace recording

#include "Lobby.hpp"

#include <dirent.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <boost/asio.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "Protocol.hpp"
#include "Recording.hpp"
#include "ReplayControl.hpp"
#include "Server.hpp"
#include "Spawn.hpp"
#include "Watchers.hpp"

namespace server {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;

constexpr std::string_view kExtension = ".vdrec";
constexpr std::string_view kDownloads = "/recordings/";
constexpr int kVerifiersAtOnce = 2;

// A confirmation of a today's result by its replay.
enum class Verdict { Unknown, Pending, Confirmed, Refused };

// One finished recording as the listing last saw it.
struct Entry {
  std::uintmax_t size = 0;
  std::int64_t mtime = 0;  // seconds since the epoch
  bool readable = false;
  recording::Summary summary;
  std::uint32_t partition = 0;
  std::size_t keys = 0;
  Verdict verdict = Verdict::Unknown;
  bool seen = false;  // read at this size and time
};

std::map<std::string, Entry> entries;  // by path
int verifiersRunning = 0;

// Whether `name` may be a recording the server wrote: letters, digits, '-', '_' and '.', and
// the extension; nothing that could leave the directory or need quoting.
bool plainName(std::string_view name) {
  if (name.size() <= kExtension.size() || name.size() > 128 || name[0] == '.' ||
      name.substr(name.size() - kExtension.size()) != kExtension)
    return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

// The names of the directory's finished recordings.
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  DIR* opened = opendir(dir.c_str());
  if (opened == nullptr) return names;
  while (const dirent* found = readdir(opened)) {
    if (plainName(found->d_name)) names.emplace_back(found->d_name);
  }
  closedir(opened);
  return names;
}

// The entry of `path` brought up to date: read again only when its size or time changed.
Entry* refreshed(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    entries.erase(path);
    return nullptr;
  }
  Entry& entry = entries[path];
  if (entry.seen && entry.size == static_cast<std::uintmax_t>(info.st_size) &&
      entry.mtime == info.st_mtime)
    return &entry;
  entry = Entry{};
  entry.size = static_cast<std::uintmax_t>(info.st_size);
  entry.mtime = info.st_mtime;
  entry.seen = true;
  const recording::Loaded loaded = recording::load(path);
  if (!loaded.recording) {
    log("not listed: " + loaded.error);  // once, until the file changes
    return &entry;
  }
  entry.readable = true;
  entry.summary = loaded.recording->summary;
  entry.partition = loaded.recording->partition;
  entry.keys = loaded.recording->keys.size();
  return &entry;
}

// Forgets the files of `base` that are no longer listed (deleted or renamed), unless their
// confirmation is still running.
void forgetAllBut(const std::string& base, const std::vector<std::string>& names) {
  const std::set<std::string> listed(names.begin(), names.end());
  const std::string prefix = base + "/";
  for (auto it = entries.begin(); it != entries.end();) {
    const bool ours = it->first.compare(0, prefix.size(), prefix) == 0;
    const bool gone = ours && listed.count(it->first.substr(prefix.size())) == 0;
    if (gone && it->second.verdict != Verdict::Pending) {
      it = entries.erase(it);
    } else {
      ++it;
    }
  }
}

std::string absolute(const std::string& dir) {
  char resolved[PATH_MAX];
  return realpath(dir.c_str(), resolved) != nullptr ? std::string(resolved) : dir;
}

std::string dateOf(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}

// Replays `path` in a confined child (vesperdeep-pipe --verify) and keeps its verdict.
void verify(Server& server, const asio::any_io_executor& executor, const std::string& path) {
  Options options = server.options();
  options.partition.reset();
  std::string why;
  const Spawned child = spawnGame(server.program(), options, why, {"--verify", path});
  if (child.pid < 0) {
    log("cannot confirm " + path + ": " + why);
    return;
  }
  ::close(child.keysFd);
  ++verifiersRunning;
  entries[path].verdict = Verdict::Pending;
  auto frames = std::make_shared<asio::posix::stream_descriptor>(executor, child.framesFd);
  auto said = std::make_shared<std::string>();
  auto chunk = std::make_shared<std::array<char, 256>>();
  auto read = std::make_shared<std::function<void()>>();
  *read = [=] {
    frames->async_read_some(
        asio::buffer(*chunk), [=](boost::system::error_code error, std::size_t got) {
          if (!error && said->size() < 64) {
            said->append(chunk->data(), got);
            (*read)();
            return;
          }
          --verifiersRunning;
          const std::string expected = std::string("\x0a\0\0\0", 4) + replaycontrol::kVerdict;
          const bool confirmed = said->size() == 4 + replaycontrol::kVerdictSize &&
                                 said->compare(0, 5, expected) == 0 && (*said)[5] == 1;
          if (const auto found = entries.find(path); found != entries.end())
            found->second.verdict = confirmed ? Verdict::Confirmed : Verdict::Refused;
          if (!confirmed)
            log("not listed for today's cave: " + path + " did not replay to its end");
          if (!error) kill(-child.pid, SIGKILL);  // it said too much
          *read = nullptr;                        // the cycle ends
        });
  };
  (*read)();
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out + "\"";
}

std::string gameJson(const std::string& name, const Entry& entry) {
  std::ostringstream out;
  out << "{\"name\":" << jsonString(name)
      << ",\"ending\":" << jsonString(recording::endingName(entry.summary.ending))
      << ",\"turns\":" << entry.summary.turns << ",\"kills\":" << entry.summary.kills
      << ",\"lengthMs\":" << entry.summary.lengthMs << ",\"keys\":" << entry.keys
      << ",\"partition\":" << entry.partition << ",\"when\":" << entry.mtime << "}";
  return out.str();
}

std::shared_ptr<Answer> textAnswer(http::status status, std::string type, std::string body) {
  auto answer = std::make_shared<Answer>(status, 11);
  answer->set(http::field::content_type, std::move(type));
  answer->body() = std::move(body);
  return answer;
}

std::shared_ptr<Answer> gamesJson(Server& server, const asio::any_io_executor& executor) {
  const std::string dir = server.options().dataDir;
  const std::time_t now = std::time(nullptr);
  const std::uint32_t today = todaysPartition(now);
  std::vector<std::pair<std::string, const Entry*>> finished;
  if (!dir.empty()) {
    const std::string base = absolute(dir);
    const std::vector<std::string> names = listing(dir);
    forgetAllBut(base, names);
    for (const std::string& name : names) {
      const std::string path = base + "/" + name;
      Entry* entry = refreshed(path);
      if (entry == nullptr || !entry->readable) continue;
      finished.emplace_back(name, entry);
      const bool todays = entry->partition == today && dateOf(entry->mtime) == dateOf(now) &&
                          entry->summary.ending == recording::Ending::EndScreen;
      if (todays && entry->verdict == Verdict::Unknown && verifiersRunning < kVerifiersAtOnce)
        verify(server, executor, path);
    }
  }
  std::sort(finished.begin(), finished.end(), [](const auto& a, const auto& b) {
    return a.second->mtime != b.second->mtime ? a.second->mtime > b.second->mtime
                                              : a.first > b.first;
  });
  std::vector<std::pair<std::string, const Entry*>> results;
  for (const auto& game : finished) {
    if (game.second->verdict == Verdict::Confirmed && game.second->partition == today &&
        dateOf(game.second->mtime) == dateOf(now))
      results.push_back(game);
  }
  std::stable_sort(results.begin(), results.end(), [](const auto& a, const auto& b) {
    return a.second->summary.turns < b.second->summary.turns;
  });
  std::string body = "{\"today\":{\"date\":" + jsonString(dateOf(now)) +
                     ",\"partition\":" + std::to_string(today) + ",\"results\":[";
  for (std::size_t i = 0; i < results.size(); ++i)
    body += (i > 0 ? "," : "") + gameJson(results[i].first, *results[i].second);
  body += "]},\"live\":[";
  const std::vector<LiveGame> live = server.liveGames();
  for (std::size_t i = 0; i < live.size(); ++i) {
    const auto quiet =
        std::chrono::duration_cast<std::chrono::milliseconds>(live[i].sinceLastKey).count();
    body += std::string(i > 0 ? "," : "") + "{\"id\":" + jsonString(live[i].id) +
            ",\"turns\":" + std::to_string(live[i].turns) +
            ",\"kills\":" + std::to_string(live[i].kills) +
            ",\"sinceLastKeyMs\":" + std::to_string(quiet) +
            ",\"watchers\":" + std::to_string(live[i].watchers) + "}";
  }
  body += "],\"finished\":[";
  for (std::size_t i = 0; i < finished.size(); ++i)
    body += (i > 0 ? "," : "") + gameJson(finished[i].first, *finished[i].second);
  body += "]}\n";
  return textAnswer(http::status::ok, "application/json", std::move(body));
}

std::shared_ptr<Answer> download(const Server& server, std::string_view name) {
  const std::string path = finishedRecording(server.options().dataDir, name);
  std::ifstream in(path, std::ios::binary);
  if (path.empty() || !in) return textAnswer(http::status::not_found, "text/plain", "Not found.\n");
  std::ostringstream text;
  text << in.rdbuf();
  auto answer = textAnswer(http::status::ok, "text/plain; charset=utf-8", text.str());
  answer->set(http::field::content_disposition,
              "attachment; filename=\"" + std::string(name) + "\"");
  return answer;
}

}  // namespace

std::string queryValue(std::string_view target, std::string_view key) {
  const std::size_t mark = target.find('?');
  if (mark == std::string_view::npos) return {};
  std::string_view query = target.substr(mark + 1);
  while (!query.empty()) {
    const std::string_view pair = query.substr(0, query.find('&'));
    if (pair.size() > key.size() && pair.substr(0, key.size()) == key && pair[key.size()] == '=')
      return std::string(pair.substr(key.size() + 1));
    query.remove_prefix(std::min(query.size(), pair.size() + 1));
  }
  return {};
}

std::uint32_t todaysPartition(std::time_t now) {
  std::tm utc{};
  gmtime_r(&now, &utc);
  return static_cast<std::uint32_t>((utc.tm_year + 1900) * 10000 + (utc.tm_mon + 1) * 100 +
                                    utc.tm_mday);
}

std::string finishedRecording(const std::string& dir, std::string_view name) {
  if (dir.empty()) return {};
  for (const std::string& listed : listing(dir)) {
    if (listed != name) continue;
    const std::string path = absolute(dir) + "/" + listed;
    const Entry* entry = refreshed(path);
    return entry != nullptr && entry->readable ? path : std::string();
  }
  return {};
}

std::shared_ptr<Answer> lobbyAnswer(Server& server, const asio::any_io_executor& executor,
                                    std::string_view target) {
  const std::string_view path = target.substr(0, target.find('?'));
  if (path == "/games.json") return gamesJson(server, executor);
  if (path.substr(0, kDownloads.size()) == kDownloads)
    return download(server, path.substr(kDownloads.size()));
  return nullptr;
}

}  // namespace server

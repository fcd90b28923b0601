#include "Record.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Protocol.hpp"
#include "Server.hpp"

namespace server {
namespace {

std::atomic<unsigned> recordsMade{0};

// "a-20261208-162039-4242-7": the server's instance name, the UTC time, its pid, a counter;
// unique within a directory shared by servers of different instance names.
std::string recordName(const std::string& instance) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
  return instance + "-" + stamp + "-" + std::to_string(getpid()) + "-" +
         std::to_string(recordsMade++);
}

std::uint32_t u32At(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return value;
}

}  // namespace

bool parseStatus(std::string_view message, GameStatus& status) {
  if (message.size() != protocol::kStatusSize || message[0] != protocol::kStatus) return false;
  const std::uint32_t turns = u32At(message, 1);
  const std::uint32_t kills = u32At(message, 5);
  const auto state = static_cast<std::uint8_t>(message[9]);
  if (turns > (1u << 30) || kills > (1u << 30) || state > protocol::kEndScreen) return false;
  status = {static_cast<int>(turns), static_cast<int>(kills), state};
  return true;
}

GameRecord::GameRecord(const std::string& dir, const std::string& instance, std::uint32_t partition)
    : writer(partition) {
  if (dir.empty()) return;
  const std::string base = dir + "/" + recordName(instance);
  finalName = base + ".vdrec";
  partName = finalName + ".part";
  fd = open(partName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    log("cannot record a game in " + partName + ": " + std::strerror(errno));
    return;
  }
  write(writer.header());
}

GameRecord::~GameRecord() {
  if (fd >= 0) ::close(fd);  // left as .part: the game ended abnormally
}

bool GameRecord::keyRead(std::string_view token) {
  lastKeyAt = Clock::now();
  if (fd < 0) return false;
  write(writer.key(token, elapsedMs()));
  if (Clock::now() - lastSync >= std::chrono::seconds(1)) sync();
  return dirty;
}

void GameRecord::status(const GameStatus& status) {
  if (status.state != protocol::kTitle) lastStatus = status;
}

void GameRecord::sync() {
  if (fd < 0 || !dirty) return;
  fdatasync(fd);
  dirty = false;
  lastSync = Clock::now();
}

void GameRecord::close(recording::Ending how) {
  if (fd < 0) return;
  if (lastStatus.state == protocol::kDead) how = recording::Ending::Died;
  if (lastStatus.state == protocol::kEndScreen) how = recording::Ending::EndScreen;
  write(writer.end({how, lastStatus.turns, lastStatus.kills, elapsedMs()}));
  dirty = true;
  sync();
  ::close(fd);
  fd = -1;
  if (rename(partName.c_str(), finalName.c_str()) != 0)
    log("cannot close the recording " + partName + ": " + std::strerror(errno));
}

void GameRecord::write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      log("cannot write the recording " + partName + ": " + std::strerror(errno));
      ::close(fd);
      fd = -1;
      return;
    }
    done += static_cast<std::size_t>(wrote);
  }
  dirty = true;
}

std::int64_t GameRecord::elapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedAt).count();
}

}  // namespace server

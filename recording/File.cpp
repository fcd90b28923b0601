#include "File.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace recording {

File::File(std::string path, std::uint32_t partition)
    : finalName(std::move(path)), partName(finalName + ".part"), writer(partition) {
  fd = ::open(partName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    fault = "cannot write the recording " + partName + ": " + std::strerror(errno);
    return;
  }
  write(writer.header());
}

File::~File() {
  if (fd >= 0) ::close(fd);  // left as .part: the game ended abnormally
}

void File::key(std::string_view token) {
  if (fd < 0) return;
  write(writer.key(token, elapsedMs()));
  if (fd >= 0 && Clock::now() - lastSync >= std::chrono::seconds(1)) {
    fdatasync(fd);
    lastSync = Clock::now();
  }
}

bool File::close(Ending ending, int turns, int kills) {
  if (fd < 0) return false;
  write(writer.end({ending, turns, kills, elapsedMs()}));
  if (fd < 0) return false;
  if (fsync(fd) != 0) failed("cannot write the recording " + partName);
  if (fd >= 0 && ::close(fd) != 0) {
    fd = -1;
    failed("cannot write the recording " + partName);
  }
  if (!fault.empty()) return false;
  fd = -1;
  if (std::rename(partName.c_str(), finalName.c_str()) != 0) {
    fault = "cannot rename the recording " + partName + " to " + finalName + ": " +
            std::strerror(errno);
    return false;
  }
  return true;
}

void File::write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      failed("cannot write the recording " + partName);
      return;
    }
    done += static_cast<std::size_t>(wrote);
  }
}

void File::failed(const std::string& what) {
  fault = what + ": " + std::strerror(errno);
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::int64_t File::elapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedAt).count();
}

}  // namespace recording

#include "ChildMessages.hpp"

#include <cstdint>

#include "Protocol.hpp"

namespace server {

bool takeMessages(std::string& pending, const std::function<void(std::string)>& deliver) {
  std::size_t at = 0;
  bool sound = true;
  while (pending.size() - at >= 4) {
    const auto byte = [&](std::size_t i) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(pending[at + i]));
    };
    const std::uint32_t size = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    if (size == 0 || size > protocol::kLargestGameMessage) {
      sound = false;
      break;
    }
    if (pending.size() - at - 4 < size) break;
    deliver(pending.substr(at + 4, size));
    at += 4 + size;
  }
  pending.erase(0, at);
  return sound;
}

}  // namespace server

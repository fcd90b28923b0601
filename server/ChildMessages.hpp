#pragma once

// What a game's process writes on its frames pipe: messages, each a 4-byte little-endian length
// and that many bytes (docs/protocol.md). The player's and the replay viewer's pipes read them
// alike.

#include <functional>
#include <string>

namespace server {

// Hands each whole message at the start of `pending` to `deliver`, in order, and takes it off;
// a message cut short stays for the next read. False when a length is 0 or larger than
// protocol::kLargestGameMessage: that message and what follows it stay in `pending`.
bool takeMessages(std::string& pending, const std::function<void(std::string)>& deliver);

}  // namespace server

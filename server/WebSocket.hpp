#pragma once

// What every WebSocket of the server shares, a player's and a watcher's alike: no compression,
// the handshake and read timeouts, one frame per message, a small read limit, and a bounded
// kernel send buffer.

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "Options.hpp"

namespace server {

using WebSocket = boost::beast::websocket::stream<boost::beast::tcp_stream>;
using Request = boost::beast::http::request<boost::beast::http::empty_body>;

// Sets up `ws` (not yet opened) under `limits`: binary messages, no compression, the timeouts,
// messages of at most protocol::kLargestMessage bytes read, and the kernel's share of what
// waits to be sent kept to at most --max-send-queue, so that a client that does not read fills
// the server's own queue soon and is dropped.
void prepare(WebSocket& ws, const Limits& limits);

}  // namespace server

#include "WebSocket.hpp"

#include <algorithm>

#include "Protocol.hpp"

namespace server {

namespace {

// The kernel's share of what waits for a client at most (Linux would otherwise let it grow to
// megabytes for a client that does not read); the server's own share is --max-send-queue.
constexpr std::size_t kSocketSendBuffer = 128 * 1024;

}  // namespace

void prepare(WebSocket& ws, const Limits& limits) {
  namespace beast = boost::beast;
  namespace websocket = beast::websocket;
  websocket::permessage_deflate noCompression;
  noCompression.server_enable = false;
  noCompression.client_enable = false;
  ws.set_option(noCompression);
  ws.set_option(websocket::stream_base::timeout{limits.handshake, limits.read, true});
  ws.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
    response.set(beast::http::field::server, "vesperdeep-server");
  }));
  ws.read_message_max(protocol::kLargestMessage);
  ws.binary(true);
  ws.auto_fragment(false);                      // one frame per message, however large
  beast::get_lowest_layer(ws).expires_never();  // the WebSocket keeps its own timeouts
  const auto bytes = static_cast<int>(std::min(kSocketSendBuffer, limits.sendQueue));
  beast::error_code ignored;
  beast::get_lowest_layer(ws).socket().set_option(boost::asio::socket_base::send_buffer_size(bytes),
                                                  ignored);
}

}  // namespace server

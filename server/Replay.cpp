#include "Replay.hpp"

#include <signal.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <memory>

#include "ChildMessages.hpp"
#include "Protocol.hpp"
#include "ReplayControl.hpp"
#include "Server.hpp"
#include "Spawn.hpp"

namespace server {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr auto kKillAfter = std::chrono::seconds(1);  // a replay whose page has gone
constexpr std::size_t kQueuedControls = 32;           // controls waiting for the child
int replaysRunning = 0;

// One page watching one replay: its WebSocket and the child that replays.
class Viewer : public std::enable_shared_from_this<Viewer> {
 public:
  Viewer(Server& server, tcp::socket socket, std::string address, std::string path)
      : server(server),
        ws(std::move(socket)),
        controls(ws.get_executor()),
        frames(ws.get_executor()),
        killer(ws.get_executor()),
        admissions(server.admissions()),
        address(std::move(address)),
        path(std::move(path)) {}
  ~Viewer() {
    admissions->release(address);
    if (counted) --replaysRunning;
  }

  void start(const websocket::request_type& request) {
    const Limits& limits = server.options().limits;
    websocket::permessage_deflate noCompression;
    noCompression.server_enable = false;
    noCompression.client_enable = false;
    ws.set_option(noCompression);
    ws.set_option(websocket::stream_base::timeout{limits.handshake, limits.read, true});
    ws.read_message_max(protocol::kLargestMessage);
    ws.binary(true);
    ws.auto_fragment(false);
    beast::get_lowest_layer(ws).expires_never();
    ws.async_accept(request, [self = shared_from_this()](beast::error_code error) {
      if (!error) self->opened();
    });
  }

 private:
  void opened() {
    clientOpen = true;
    if (server.stopping() || replaysRunning >= server.options().limits.games) {
      log("refused " + address + ": too many replays");
      finalNote("The server is busy: try the replay again in a while.");
      return;
    }
    std::string why;
    Options options = server.options();
    options.partition.reset();  // the recording has its own
    const Spawned child = spawnGame(server.program(), options, why, {"--replay", path});
    if (child.pid < 0) {
      log("refused " + address + ": " + why);
      finalNote("The replay could not start on the server.");
      return;
    }
    counted = true;
    ++replaysRunning;
    pid = child.pid;
    controls.assign(child.keysFd);
    frames.assign(child.framesFd);
    log("replay started for " + address + " (pid " + std::to_string(pid) + ")");
    readFrames();
    readControls();
  }

  // ---- From the page: controls, checked, handed on as they are

  void readControls() {
    ws.async_read(inbox, [self = shared_from_this()](beast::error_code error, std::size_t) {
      self->controlRead(error);
    });
  }

  void controlRead(beast::error_code error) {
    if (error) {
      lost();
      return;
    }
    const auto data = inbox.cdata();
    const auto* bytes = static_cast<const unsigned char*>(data.data());
    if (ws.got_binary() && replaycontrol::isControl(bytes, data.size()) &&
        waiting.size() < kQueuedControls) {
      waiting.emplace_back(reinterpret_cast<const char*>(bytes), data.size());
      if (waiting.size() == 1) writeControl();
    }  // anything else is ignored, as /play ignores what is not a key
    inbox.consume(inbox.size());
    readControls();
  }

  void writeControl() {
    asio::async_write(controls, asio::buffer(waiting.front()),
                      [self = shared_from_this()](beast::error_code error, std::size_t) {
                        if (error) return;  // the child is gone: its frames end
                        self->waiting.pop_front();
                        if (!self->waiting.empty()) self->writeControl();
                      });
  }

  // ---- From the child: every message goes to the page

  void readFrames() {
    frames.async_read_some(asio::buffer(chunk),
                           [self = shared_from_this()](beast::error_code error, std::size_t got) {
                             self->framesRead(error, got);
                           });
  }

  void framesRead(beast::error_code error, std::size_t got) {
    if (error) {
      childGone = true;
      killer.cancel();
      log("replay ended for " + address + " (pid " + std::to_string(pid) + ")");
      finalNote("The replay has ended on the server.");
      return;
    }
    fromChild.append(chunk.data(), got);
    if (!takeMessages(fromChild, [this](std::string message) { send(std::move(message)); })) {
      log("the replay of " + address + " sent a malformed message; ending it");
      kill(-pid, SIGKILL);
    }
    readFrames();
  }

  // ---- To the page

  void send(std::string message) {
    if (!clientOpen || closing) return;
    waitingBytes += message.size();
    if (waitingBytes > server.options().limits.sendQueue) {
      lost();
      return;
    }
    outbox.push_back(std::move(message));
    if (!writing) writeNext();
  }

  void finalNote(const std::string& text) {
    std::string message{protocol::kNote, static_cast<char>(protocol::kError)};
    message += text;
    send(std::move(message));
    closing = true;
    if (!writing) closeClient();
  }

  void writeNext() {
    writing = true;
    ws.async_write(asio::buffer(outbox.front()),
                   [self = shared_from_this()](beast::error_code error, std::size_t) {
                     self->writing = false;
                     self->waitingBytes -= self->outbox.front().size();
                     self->outbox.pop_front();
                     if (error) {
                       self->lost();
                     } else if (!self->outbox.empty()) {
                       self->writeNext();
                     } else if (self->closing) {
                       self->closeClient();
                     }
                   });
  }

  void closeClient() {
    if (!clientOpen || closeStarted) return;
    closeStarted = true;
    ws.async_close(websocket::close_code::normal,
                   [self = shared_from_this()](beast::error_code) { self->lost(); });
  }

  // The page is gone: the child's controls end, and it has kKillAfter to end by itself.
  void lost() {
    if (clientOpen) {
      clientOpen = false;
      beast::error_code ignored;
      beast::get_lowest_layer(ws).socket().close(ignored);
    }
    if (pid < 0 || childGone || hungUp) return;
    hungUp = true;
    controls.close();
    killer.expires_after(kKillAfter);
    killer.async_wait([self = shared_from_this()](beast::error_code error) {
      if (!error && !self->childGone) kill(-self->pid, SIGKILL);
    });
  }

  Server& server;
  websocket::stream<beast::tcp_stream> ws;
  asio::posix::stream_descriptor controls;
  asio::posix::stream_descriptor frames;
  asio::steady_timer killer;
  std::shared_ptr<Admissions> admissions;
  std::string address;
  std::string path;
  int pid = -1;
  beast::flat_buffer inbox;
  std::array<char, 8192> chunk{};
  std::string fromChild;
  std::deque<std::string> waiting;  // controls for the child
  std::deque<std::string> outbox;   // messages for the page
  std::size_t waitingBytes = 0;
  bool counted = false;
  bool clientOpen = false;
  bool writing = false;
  bool closing = false;
  bool closeStarted = false;
  bool childGone = false;
  bool hungUp = false;
};

}  // namespace

void startReplay(Server& server, tcp::socket socket, std::string address,
                 const boost::beast::http::request<boost::beast::http::empty_body>& request,
                 std::string path) {
  std::make_shared<Viewer>(server, std::move(socket), std::move(address), std::move(path))
      ->start(request);
}

}  // namespace server

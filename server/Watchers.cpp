#include "Watchers.hpp"

#include <algorithm>
#include <deque>
#include <random>

#include "Protocol.hpp"
#include "Server.hpp"
#include "Status.hpp"

namespace server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

constexpr std::size_t kIdLength = 12;
constexpr std::size_t kLongestAskedId = 64;
constexpr const char* kNoGame =
    "There is no such game to watch: it has ended, or the link is wrong.";

Shared note(protocol::NoteKind kind, const std::string& text) {
  std::string message{protocol::kNote, static_cast<char>(kind)};
  return std::make_shared<const std::string>(message + text);
}

bool idCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

}  // namespace

std::string gameId(const std::string& instance) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
  std::random_device entropy;
  std::uint64_t bits = static_cast<std::uint64_t>(entropy()) << 32 | entropy();
  std::string id = instance + "-";
  for (std::size_t i = 0; i < kIdLength; ++i, bits >>= 5)
    id += kAlphabet[bits & 31];
  return id;
}

std::string watchedId(std::string_view target) {
  const std::size_t query = target.find('?');
  if (query == std::string_view::npos) return "";
  std::string_view rest = target.substr(query + 1);
  while (!rest.empty()) {
    const std::size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (pair.substr(0, 5) != "game=") continue;
    const std::string_view id = pair.substr(5);
    if (id.empty() || id.size() > kLongestAskedId ||
        !std::all_of(id.begin(), id.end(), idCharacter))
      return "";
    return std::string(id);
  }
  return "";
}

// ---- The screen copy -------------------------------------------------------------------------

void ScreenCopy::apply(std::string_view message) {
  constexpr std::size_t kCells = protocol::kCols * protocol::kRows;
  std::size_t at = 1;
  if (message.size() >= 3 && message[0] == protocol::kFullFrame) {
    if (static_cast<unsigned char>(message[1]) != protocol::kCols ||
        static_cast<unsigned char>(message[2]) != protocol::kRows)
      return;
    cells.assign(kCells, Cell{});
    at = 3;
  } else if (message.empty() || message[0] != protocol::kChanges || cells.empty()) {
    return;
  }
  while (at + protocol::kRunHeader <= message.size()) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(message[at + i]); };
    const std::size_t start = byte(0) | byte(1) << 8;
    const std::size_t count = byte(2);
    const std::size_t glyphs = at + protocol::kRunHeader;
    if (count == 0 || start + count > kCells || glyphs + count > message.size()) return;
    for (std::size_t i = 0; i < count; ++i) {
      cells[start + i].glyph = static_cast<std::uint8_t>(message[glyphs + i]);
      std::copy_n(message.begin() + static_cast<std::ptrdiff_t>(at + 3), 6,
                  cells[start + i].colours.begin());
    }
    at = glyphs + count;
  }
}

std::string ScreenCopy::fullFrame() const {
  if (cells.empty()) return "";
  std::string out{protocol::kFullFrame, static_cast<char>(protocol::kCols),
                  static_cast<char>(protocol::kRows)};
  for (std::size_t start = 0; start < cells.size();) {
    std::size_t count = 1;
    while (start + count < cells.size() && count < protocol::kLongestRun &&
           cells[start + count].colours == cells[start].colours)
      ++count;
    out += static_cast<char>(start & 0xFF);
    out += static_cast<char>(start >> 8);
    out += static_cast<char>(count);
    out.append(cells[start].colours.data(), cells[start].colours.size());
    for (std::size_t i = 0; i < count; ++i)
      out += static_cast<char>(cells[start + i].glyph);
    start += count;
  }
  return out;
}

// ---- One watcher -----------------------------------------------------------------------------

class Watcher : public std::enable_shared_from_this<Watcher> {
 public:
  Watcher(tcp::socket socket, std::string address, const Limits& limits,
          std::shared_ptr<Admissions> admissions)
      : ws(std::move(socket)),
        limits(limits),
        admissions(std::move(admissions)),
        address(std::move(address)) {}
  ~Watcher() { admissions->release(address); }

  // Completes the WebSocket opening of `request`, then joins `audience` (or is refused).
  void start(const Request& request, std::shared_ptr<Audience> audience) {
    prepare(ws, limits);
    ws.async_accept(request, [self = shared_from_this(), audience](beast::error_code error) {
      if (!error) self->opened(audience);
    });
  }

  // Queues `message`. False, and the watcher is closed without leaving its audience (the
  // caller drops it), when more than --max-send-queue bytes would wait for it.
  bool send(const Shared& message) {
    if (!open || closing) return open;
    waitingBytes += message->size();
    if (waitingBytes > limits.sendQueue) {
      countRefusal(Refusal::SendQueue);
      log("dropped a watcher of game " + gameName + " from " + address +
          ": does not read what it is sent (" + std::to_string(waitingBytes) + " bytes waiting)");
      closeNow();
      return false;
    }
    outbox.push_back(message);
    if (!writing) writeNext();
    return true;
  }

  // Sends `note` after what is queued, then closes.
  void finish(const Shared& note) {
    send(note);
    closing = true;
    if (!writing) closeClient();
  }

 private:
  void opened(const std::shared_ptr<Audience>& audience) {
    open = true;
    std::string why = kNoGame;
    if (audience && audience->join(shared_from_this(), why)) {
      watching = audience;
      gameName = audience->id();
      read();
      return;
    }
    countRefusal(Refusal::Watchers);
    log("refused a watcher from " + address + ": " + why);
    finish(note(protocol::kError, why));
  }

  // Whatever a watcher sends is read and ignored; a message too large closes it.
  void read() {
    ws.async_read(inbox, [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (error) {
        self->drop();
        return;
      }
      self->inbox.consume(self->inbox.size());
      self->read();
    });
  }

  void writeNext() {
    writing = true;
    ws.async_write(asio::buffer(*outbox.front()),
                   [self = shared_from_this()](beast::error_code error, std::size_t) {
                     self->written(error);
                   });
  }

  void written(beast::error_code error) {
    writing = false;
    waitingBytes -= outbox.front()->size();
    outbox.pop_front();
    if (error) {
      drop();
    } else if (!outbox.empty()) {
      writeNext();
    } else if (closing) {
      closeClient();
    }
  }

  void closeClient() {
    if (!open || closeStarted) return;
    closeStarted = true;
    ws.async_close(websocket::close_code::normal,
                   [self = shared_from_this()](beast::error_code) { self->drop(); });
  }

  // The connection is gone: closed, and out of its audience.
  void drop() {
    closeNow();
    if (const auto audience = watching.lock()) audience->leave(this);
    watching.reset();
  }

  void closeNow() {
    if (!open) return;
    open = false;
    beast::error_code ignored;
    beast::get_lowest_layer(ws).socket().close(ignored);
  }

  WebSocket ws;
  const Limits limits;
  std::shared_ptr<Admissions> admissions;
  std::string address;
  std::string gameName;
  std::weak_ptr<Audience> watching;
  beast::flat_buffer inbox;
  std::deque<Shared> outbox;
  std::size_t waitingBytes = 0;
  bool open = false;
  bool writing = false;
  bool closing = false;
  bool closeStarted = false;
};

// ---- The audience of a game ------------------------------------------------------------------

Audience::~Audience() = default;

void Audience::frame(const Shared& message) {
  screen.apply(*message);
  watchers.erase(std::remove_if(watchers.begin(), watchers.end(),
                                [&](const std::shared_ptr<Watcher>& watcher) {
                                  return !watcher->send(message);
                                }),
                 watchers.end());
}

void Audience::end(const Shared& note) {
  if (ended) return;
  ended = true;
  for (const auto& watcher : watchers)
    watcher->finish(note);
  watchers.clear();
}

bool Audience::join(const std::shared_ptr<Watcher>& watcher, std::string& why) {
  if (ended) {
    why = kNoGame;
    return false;
  }
  if (count() >= most) {
    why = "This game has " + std::to_string(most) + " watchers already. Try again in a while.";
    return false;
  }
  const std::string full = screen.fullFrame();
  if (!full.empty() && !watcher->send(std::make_shared<const std::string>(full))) {
    why = "The game's screen could not be sent.";
    return false;
  }
  watchers.push_back(watcher);
  return true;
}

void Audience::leave(const Watcher* watcher) {
  watchers.erase(
      std::remove_if(watchers.begin(), watchers.end(),
                     [&](const std::shared_ptr<Watcher>& w) { return w.get() == watcher; }),
      watchers.end());
}

void startWatcher(tcp::socket socket, std::string address, const Request& request,
                  const std::shared_ptr<Audience>& audience, const Limits& limits,
                  std::shared_ptr<Admissions> admissions) {
  std::make_shared<Watcher>(std::move(socket), std::move(address), limits, std::move(admissions))
      ->start(request, audience);
}

}  // namespace server

#include "Server.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <string_view>

#include "ChildMessages.hpp"
#include "Lobby.hpp"
#include "PageFiles.hpp"
#include "Protocol.hpp"
#include "Record.hpp"
#include "Replay.hpp"
#include "Spawn.hpp"
#include "Status.hpp"
#include "Watchers.hpp"
#include "WebSocket.hpp"

namespace server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

constexpr const char* kPlayPath = "/play";
constexpr const char* kReplayPath = "/replay";
constexpr const char* kStatusPath = "/status";
constexpr const char* kWatchPath = "/watch";
constexpr std::uint32_t kHeaderLimit = 8192;
constexpr auto kKillAfter = std::chrono::seconds(1);      // a hung-up game still running
constexpr auto kShutdownGrace = std::chrono::seconds(2);  // games still running at shutdown
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
constexpr const char* kIdleEnding = "no key for too long";
constexpr const char* kPlayerLeft = "The player has left; the game has ended.";
constexpr const char* kSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'";

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

const PageFile* findFile(std::string_view target) {
  const std::string_view path = target.substr(0, target.find('?'));
  const std::string_view wanted = path == "/index.html" ? "/" : path;
  for (std::size_t i = 0; i < kPageFileCount; ++i) {
    if (wanted == kPageFiles[i].path) return &kPageFiles[i];
  }
  return nullptr;
}

// Whether a WebSocket opened by a page of `origin` may start a game: its own page (the Host it
// asked), an origin of --allow-origin, or a client that is no browser page (no Origin).
bool originAllowed(const Request& request, const Options& options) {
  const auto origin = request.find(http::field::origin);
  if (origin == request.end()) return true;
  const std::string given = lower(origin->value());
  const std::string host = lower(request[http::field::host]);
  if (!host.empty() && (given == "http://" + host || given == "https://" + host)) return true;
  return std::any_of(options.origins.begin(), options.origins.end(),
                     [&](const std::string& allowed) { return lower(allowed) == given; });
}

// Whether a proxy passed `request` on (it names the client it came from).
bool forwarded(const Request& request) {
  return request.find(http::field::forwarded) != request.end() ||
         request.find("X-Forwarded-For") != request.end() ||
         request.find("X-Real-IP") != request.end();
}

// The last entry of the request's X-Forwarded-For, the one the front end appended (its last
// field when there are several) as given; nothing without the header.
std::optional<std::string> lastForwardedFor(const Request& request) {
  const auto [first, last] = request.equal_range("X-Forwarded-For");
  if (first == last) return std::nullopt;
  std::string_view entry;
  for (auto field = first; field != last; ++field)
    entry = field->value();
  entry = entry.substr(entry.rfind(',') == std::string_view::npos ? 0 : entry.rfind(',') + 1);
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!entry.empty() && blank(entry.front()))
    entry.remove_prefix(1);
  while (!entry.empty() && blank(entry.back()))
    entry.remove_suffix(1);
  return std::string(entry);
}

// Whether the connection from `peer` comes from a front end of --trust-proxy (an IPv4 front end
// may reach a server listening on IPv6 as ::ffff:ADDR).
bool trusted(const std::string& peer, const Options& options) {
  const auto& proxies = options.trustedProxies;
  const auto isProxy = [&](const std::string& address) {
    return std::find(proxies.begin(), proxies.end(), address) != proxies.end();
  };
  if (proxies.empty()) return false;
  beast::error_code error;
  const auto address = asio::ip::make_address(peer, error);
  if (!error && address.is_v6() && address.to_v6().is_v4_mapped())
    return isProxy(peer) ||
           isProxy(asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string());
  return isProxy(peer);
}

std::string describeExit(int status) {
  if (WIFSIGNALED(status)) {
    const char* name = sigdescr_np(WTERMSIG(status));
    return std::string("killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
           (name != nullptr ? name : "unknown") + ")";
  }
  return "exit status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

void log(const std::string& line) {
  std::fprintf(stderr, "vesperdeep-server: %s\n", line.c_str());
}

// ---- One player: a WebSocket and its game ----------------------------------------------------

class Player : public std::enable_shared_from_this<Player> {
 public:
  Player(Server& server, tcp::socket socket, std::string address)
      : server(server),
        ws(std::move(socket)),
        keys(ws.get_executor()),
        frames(ws.get_executor()),
        idle(ws.get_executor()),
        killer(ws.get_executor()),
        syncer(ws.get_executor()),
        admissions(server.admissions()),
        address(std::move(address)) {}
  ~Player() { admissions->release(address); }

  const std::string& addressText() const { return address; }
  // The game is played in today's cave (/play?cave=today) rather than the server's.
  void playTodaysCave() { todaysCave = true; }

  // How long ago the game started.
  std::chrono::seconds age() const {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            startedAt);
  }

  // The watchers of the game (nullptr before it has started).
  const std::shared_ptr<Audience>& watchers() const { return audience; }

  // The game as the lobby shows it.
  LiveGame summary() const {
    LiveGame game;
    if (audience) {
      game.id = audience->id();
      game.watchers = audience->count();
    }
    if (record) {
      game.turns = record->last().turns;
      game.kills = record->last().kills;
      game.sinceLastKey = GameRecord::Clock::now() - record->lastKey();
    }
    return game;
  }

  // Completes the WebSocket opening of `request`, then starts the game (or refuses it).
  void start(const Request& request) {
    prepare(ws, server.options().limits);
    ws.async_accept(request, [self = shared_from_this()](beast::error_code error) {
      if (error == beast::error::timeout) countRefusal(Refusal::Handshake);
      if (!error) self->opened();
    });
  }

  // The game's process ended with `status` (from waitpid).
  void exited(int status) {
    exitStatus = status;
    killer.cancel();
    finishIfDone();
  }

  // The server shuts down: the player is told and the game ends as a hang-up does.
  void shutDown() {
    sendNote(protocol::kError, "The server is shutting down; your game has ended.");
    hangUp("the server is shutting down");
  }

 private:
  void opened() {
    clientOpen = true;
    if (server.stopping()) {
      refuse("The server is shutting down. Try again later.", "shutting down");
      return;
    }
    if (!server.roomForGame()) {
      countRefusal(Refusal::Games);
      const int most = server.options().limits.games;
      refuse("The server is full: " + std::to_string(most) +
                 " games are running. Try again in a while.",
             "too many games (" + std::to_string(most) + ")");
      return;
    }
    std::string why;
    const Options options = gameOptions();
    const Spawned game = spawnGame(server.program(), options, why);
    if (game.pid < 0) {
      refuse("The game could not start on the server.", why);
      return;
    }
    record = std::make_unique<GameRecord>(options.dataDir, options.instance, *options.partition);
    audience =
        std::make_shared<Audience>(gameId(options.instance), server.options().limits.watchers);
    pid = game.pid;
    keys.assign(game.keysFd);
    frames.assign(game.framesFd);
    server.gameStarted(shared_from_this(), pid);
    readFrames();
    readKeys();
    resetIdle();
  }

  // The server's options for a new game: a recorded game always gets a partition, drawn here
  // when the server fixes none.
  Options gameOptions() const {
    Options options = server.options();
    if (todaysCave) options.partition = todaysPartition(std::time(nullptr));
    if (!options.partition) {
      std::random_device entropy;
      options.partition = static_cast<std::uint32_t>(entropy());
    }
    return options;
  }

  void refuse(const std::string& told, const std::string& why) {
    log("refused " + address + ": " + why);
    sendNote(protocol::kError, told);
  }

  // ---- From the client

  void readKeys() {
    ws.async_read(inbox, [self = shared_from_this()](beast::error_code error, std::size_t) {
      self->keyRead(error);
    });
  }

  void keyRead(beast::error_code error) {
    if (error) {
      const bool tooBig = error == websocket::error::message_too_big;
      if (tooBig) countRefusal(Refusal::MessageSize);
      if (error == beast::error::timeout) countRefusal(Refusal::Read);
      lost(tooBig ? "sent a message larger than " + std::to_string(protocol::kLargestMessage) +
                        " bytes"
                  : "the connection closed");
      return;
    }
    const auto data = inbox.cdata();
    const auto* bytes = static_cast<const unsigned char*>(data.data());
    if (ws.got_binary() && protocol::isKey(bytes, data.size())) {
      std::array<unsigned char, protocol::kKeySize> key{};
      std::copy_n(bytes, key.size(), key.begin());
      pressed(key);
    }  // any other message of a key's size is ignored
    inbox.consume(inbox.size());
    readKeys();
  }

  void pressed(const std::array<unsigned char, protocol::kKeySize>& key) {
    if (hungUp) return;
    resetIdle();
    if (gameWaits) {
      giveKey(key);
    } else if (static_cast<int>(queued.size()) < server.options().limits.queuedKeys) {
      queued.push_back(key);
    } else if (!toldFull) {
      toldFull = true;
      countRefusal(Refusal::QueuedKeys);
      log("refused keys from " + address + ": more than " +
          std::to_string(server.options().limits.queuedKeys) + " queued");
      sendNote(protocol::kNotice, "Too many keys queued; slow down.");
    }
  }

  void giveKey(const std::array<unsigned char, protocol::kKeySize>& key) {
    gameWaits = false;
    keyOut = key;
    asio::async_write(keys, asio::buffer(keyOut),
                      [self = shared_from_this()](beast::error_code, std::size_t) {
                        // a game that is gone is seen when its frames end
                      });
  }

  void resetIdle() {
    idle.expires_after(server.options().limits.idle);
    idle.async_wait([self = shared_from_this()](beast::error_code error) {
      if (error) return;
      countRefusal(Refusal::Idle);
      const auto minutes =
          std::chrono::duration_cast<std::chrono::minutes>(self->server.options().limits.idle);
      self->sendNote(protocol::kError, minutes.count() > 0
                                           ? "No key for " + std::to_string(minutes.count()) +
                                                 " minutes: the game has ended."
                                           : "No key for too long: the game has ended.");
      self->hangUp(kIdleEnding);
    });
  }

  // ---- From the game

  void readFrames() {
    frames.async_read_some(asio::buffer(chunk),
                           [self = shared_from_this()](beast::error_code error, std::size_t got) {
                             self->framesRead(error, got);
                           });
  }

  void framesRead(beast::error_code error, std::size_t got) {
    if (error) {
      framesEnded = true;
      frames.close();
      finishIfDone();
      return;
    }
    fromGame.append(chunk.data(), got);
    if (!takeMessages(fromGame, [this](std::string message) { gameMessage(std::move(message)); })) {
      log("the game of " + address + " sent a malformed message; ending it");
      if (!exitStatus) kill(-pid, SIGKILL);
    }
    readFrames();
  }

  void gameMessage(std::string message) {
    if (recordMessage(message)) return;
    const auto shared = std::make_shared<const std::string>(std::move(message));
    if (shared->size() == 1 && (*shared)[0] == protocol::kWaiting && !hungUp) {
      gameWaits = true;
      if (!queued.empty()) {
        const auto key = queued.front();
        queued.pop_front();
        if (queued.empty()) toldFull = false;
        giveKey(key);
      }
    }
    send(shared);
    if (audience) audience->frame(shared);  // after the player's own send: watchers come second
  }

  // The game's 'R' and 'S' messages go to the recording, never to the client: true for those.
  bool recordMessage(const std::string& message) {
    if (message.empty() || !record) return false;
    GameStatus status;
    if (message[0] == protocol::kStatus) {
      if (parseStatus(message, status)) record->status(status);
    } else if (message[0] == protocol::kKeyRead) {
      if (message.size() <= 1 + protocol::kLongestToken &&
          record->keyRead(std::string_view(message).substr(1)))
        syncSoon();
    } else {
      return false;
    }
    return true;  // a malformed one is dropped too
  }

  // What the recording holds goes to the disk within a second.
  void syncSoon() {
    if (syncArmed) return;
    syncArmed = true;
    syncer.expires_after(std::chrono::seconds(1));
    syncer.async_wait([self = shared_from_this()](beast::error_code) {
      self->syncArmed = false;
      if (self->record) self->record->sync();
    });
  }

  // How the game ended, for its recording.
  recording::Ending endingOf(bool quit) const {
    if (!hungUp && quit) return recording::Ending::Quit;
    if (ending == kIdleEnding) return recording::Ending::TimeOut;
    return recording::Ending::HangUp;
  }

  // ---- To the client

  void send(const Shared& message) {
    if (!clientOpen || closing) return;
    waitingBytes += message->size();
    if (waitingBytes > server.options().limits.sendQueue) {
      countRefusal(Refusal::SendQueue);
      lost("does not read what it is sent (" + std::to_string(waitingBytes) + " bytes waiting)");
      return;
    }
    outbox.push_back(message);
    if (!writing) writeNext();
  }

  // Sends the note `text`; a note that ends the game ends it for its watchers too.
  void sendNote(protocol::NoteKind kind, const std::string& text) {
    std::string message{protocol::kNote, static_cast<char>(kind)};
    message += text;
    const auto shared = std::make_shared<const std::string>(std::move(message));
    send(shared);
    if (kind != protocol::kNotice) {
      if (audience) audience->end(shared);
      closing = true;  // after what is queued has gone
      if (!writing) closeClient();
    }
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
      lost("the connection closed");
      return;
    }
    if (!outbox.empty()) {
      writeNext();
    } else if (closing) {
      closeClient();
    }
  }

  void closeClient() {
    if (!clientOpen || closeStarted) return;
    closeStarted = true;
    ws.async_close(websocket::close_code::normal, [self = shared_from_this()](beast::error_code) {
      self->clientOpen = false;
      beast::get_lowest_layer(self->ws).close();
      self->hangUp("the game has ended");
    });
  }

  // The connection is gone (or dropped): the game ends as a hang-up does.
  void lost(const std::string& why) {
    if (clientOpen) {
      clientOpen = false;
      beast::get_lowest_layer(ws).close();
    }
    hangUp(why);
  }

  // Ends the game as a hang-up does: its keys close, and it gets kKillAfter to end by itself.
  void hangUp(const std::string& why) {
    idle.cancel();
    if (hungUp || pid < 0) return;
    hungUp = true;
    ending = why;
    keys.close();
    killer.expires_after(kKillAfter);
    killer.async_wait([self = shared_from_this()](beast::error_code error) {
      if (!error && !self->exitStatus) kill(-self->pid, SIGKILL);
    });
  }

  void finishIfDone() {
    if (!exitStatus || !framesEnded || finished) return;
    finished = true;
    const int status = *exitStatus;
    const bool quit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (record && (quit || hungUp)) record->close(endingOf(quit));  // a crash stays abnormal
    if (hungUp) {
      if (audience)
        audience->end(std::make_shared<const std::string>(
            std::string{protocol::kNote, protocol::kEnded} + kPlayerLeft));
      log("game ended for " + address + ": " + ending + " (pid " + std::to_string(pid) + ", " +
          describeExit(status) + ")");
    } else if (quit) {
      log("game ended for " + address + ": the player left (pid " + std::to_string(pid) + ")");
      sendNote(protocol::kEnded, "The game has ended. Thanks for playing!");
    } else {
      log("game ended for " + address + ": it crashed (pid " + std::to_string(pid) + ", " +
          describeExit(status) + ")");
      sendNote(protocol::kError, "The game crashed on the server (" + describeExit(status) +
                                     "). Sorry! Start a new game to play again.");
    }
    hangUp("the game has ended");
    keys.close();
    idle.cancel();
    if (!clientOpen) return;
    if (!writing && outbox.empty()) closeClient();
  }

  Server& server;
  WebSocket ws;
  asio::posix::stream_descriptor keys;
  asio::posix::stream_descriptor frames;
  asio::steady_timer idle;
  asio::steady_timer killer;
  asio::steady_timer syncer;
  std::unique_ptr<GameRecord> record;
  std::shared_ptr<Audience> audience;
  bool syncArmed = false;
  bool todaysCave = false;
  std::shared_ptr<Admissions> admissions;
  std::string address;
  std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();
  int pid = -1;
  beast::flat_buffer inbox;
  std::array<char, 8192> chunk{};
  std::string fromGame;
  std::deque<std::array<unsigned char, protocol::kKeySize>> queued;
  std::array<unsigned char, protocol::kKeySize> keyOut{};
  std::deque<Shared> outbox;
  std::size_t waitingBytes = 0;
  std::optional<int> exitStatus;
  std::string ending;
  bool clientOpen = false;
  bool writing = false;
  bool closing = false;
  bool closeStarted = false;
  bool gameWaits = false;
  bool toldFull = false;
  bool hungUp = false;
  bool framesEnded = false;
  bool finished = false;
};

// ---- One HTTP connection ---------------------------------------------------------------------

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(Server& server, tcp::socket socket, std::string address)
      : server(server),
        stream(std::move(socket)),
        admissions(server.admissions()),
        peer(address),
        address(std::move(address)),
        viaProxy(trusted(peer, server.options())) {}
  ~HttpSession() {
    if (counted) admissions->release(address);
  }

  void start() {
    if (viaProxy) {  // counted by the client each request names
      read();
      return;
    }
    if (!admissions->admit(address)) {
      respond(http::status::too_many_requests, "Too many connections from your address.\n", false);
      return;
    }
    counted = true;
    read();
  }

 private:
  void read() {
    parser.emplace();
    parser->header_limit(kHeaderLimit);
    parser->body_limit(0);
    stream.expires_after(server.options().limits.handshake);
    http::async_read(stream, buffer, *parser,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                       self->requestRead(error);
                     });
  }

  void requestRead(beast::error_code error) {
    if (error == beast::error::timeout) countRefusal(Refusal::Handshake);
    if (error == http::error::end_of_stream || error == beast::error::timeout ||
        error == asio::error::connection_reset || error == asio::error::eof) {
      stream.socket().close();
      return;
    }
    if (error == http::error::header_limit) {
      countRefusal(Refusal::HeaderSize);
      respond(http::status::request_header_fields_too_large, "Request headers too large.\n", false);
      return;
    }
    if (error) {
      respond(http::status::bad_request, "Bad request.\n", false);
      return;
    }
    route(parser->release());
  }

  // Through a trusted front end: the request's client (X-Forwarded-For, else the front end
  // itself) becomes the connection's address and is counted. False when it was refused.
  bool admitClient(const Request& request) {
    const std::optional<std::string> given = lastForwardedFor(request);
    const std::string client = given ? normalAddress(*given) : peer;
    if (client.empty()) {
      log("refused " + peer + ": X-Forwarded-For names no address (" + printable(*given) + ")");
      respond(http::status::bad_request, "Bad X-Forwarded-For.\n", false);
      return false;
    }
    if (counted && client == address) return true;
    if (counted) admissions->release(address);
    counted = false;
    address = client;
    if (!admissions->admit(address)) {
      respond(http::status::too_many_requests, "Too many connections from your address.\n", false);
      return false;
    }
    counted = true;
    return true;
  }

  void route(const Request& request) {
    const bool keepAlive = request.keep_alive();
    if (viaProxy && !admitClient(request)) return;
    if (request.method() != http::verb::get && request.method() != http::verb::head) {
      respond(http::status::method_not_allowed, "Only GET and HEAD are served here.\n", false);
      return;
    }
    const std::string_view target = request.target();
    const std::string_view path = target.substr(0, target.find('?'));
    if (path == kPlayPath || path == kWatchPath) {
      upgrade(request, path == kPlayPath);
      return;
    }
    if (path == kReplayPath) {
      replay(request);
      return;
    }
    if (path == kStatusPath && statusAllowed(address, forwarded(request))) {
      respond(http::status::ok, statusText(server.runningGames(), server.options().limits.games),
              keepAlive);
      return;
    }
    if (const auto answer = lobbyAnswer(server, stream.get_executor(), target)) {
      answer->prepare_payload();
      if (request.method() == http::verb::head) answer->body().clear();
      send(answer, keepAlive);
      return;
    }
    const PageFile* file = findFile(target);
    if (file == nullptr) {
      respond(http::status::not_found, "Not found.\n", keepAlive);
      return;
    }
    auto response = std::make_shared<http::response<http::string_body>>(http::status::ok, 11);
    response->set(http::field::content_type, file->type);
    response->body().assign(reinterpret_cast<const char*>(file->data), file->size);
    response->prepare_payload();
    if (request.method() == http::verb::head) response->body().clear();
    send(response, keepAlive);
  }

  // Opens the WebSocket of a player (`play`) or of a watcher.
  void upgrade(const Request& request, bool play) {
    if (!websocket::is_upgrade(request)) {
      respond(http::status::upgrade_required,
              "This address is the game's WebSocket; open / in a browser to play.\n", false);
      return;
    }
    if (!originAllowed(request, server.options())) {
      countRefusal(Refusal::Origin);
      log("refused " + address + ": a page of another site (" +
          printable(std::string(request[http::field::origin])) + ")");
      respond(http::status::forbidden, "Games are opened from this server's own page.\n", false);
      return;
    }
    counted = false;  // the player's or the watcher's now
    if (play) {
      auto player = std::make_shared<Player>(server, stream.release_socket(), address);
      if (queryValue(request.target(), "cave") == "today") player->playTodaysCave();
      player->start(request);
    } else {
      startWatcher(stream.release_socket(), address, request,
                   server.watchersOf(watchedId(request.target())), server.options().limits,
                   admissions);
    }
  }

  void replay(const Request& request) {
    if (!websocket::is_upgrade(request) || !originAllowed(request, server.options())) {
      respond(http::status::forbidden, "Replays are opened from this server's own page.\n", false);
      return;
    }
    std::string path =
        finishedRecording(server.options().dataDir, queryValue(request.target(), "rec"));
    if (path.empty()) {
      respond(http::status::not_found, "No such recording.\n", false);
      return;
    }
    counted = false;  // the viewer's now
    startReplay(server, stream.release_socket(), address, request, std::move(path));
  }

  void respond(http::status status, const std::string& text, bool keepAlive) {
    auto response = std::make_shared<http::response<http::string_body>>(status, 11);
    response->set(http::field::content_type, "text/plain; charset=utf-8");
    response->body() = text;
    response->prepare_payload();
    send(response, keepAlive);
  }

  void send(const std::shared_ptr<http::response<http::string_body>>& response, bool keepAlive) {
    response->set(http::field::server, "vesperdeep-server");
    response->set(http::field::cache_control, "no-cache");
    response->set("Content-Security-Policy", kSecurityPolicy);
    response->set("X-Content-Type-Options", "nosniff");
    response->keep_alive(keepAlive);
    stream.expires_after(server.options().limits.handshake);
    http::async_write(
        stream, *response,
        [self = shared_from_this(), response, keepAlive](beast::error_code error, std::size_t) {
          if (!error && keepAlive) {
            self->read();
            return;
          }
          beast::error_code ignored;
          self->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
          self->stream.socket().close(ignored);
        });
  }

  Server& server;
  beast::tcp_stream stream;
  beast::flat_buffer buffer;
  std::optional<http::request_parser<http::empty_body>> parser;
  std::shared_ptr<Admissions> admissions;
  std::string peer;     // the connection's own end
  std::string address;  // the client's: the peer's, or the one a trusted front end names
  bool viaProxy;        // the peer is a front end of --trust-proxy
  bool counted = false;
};

// ---- The server ------------------------------------------------------------------------------

Server::Server(asio::io_context& io, Options options, std::string gameProgram)
    : io(io),
      settings(std::move(options)),
      gameProgram(std::move(gameProgram)),
      acceptor(io),
      quitSignals(io, SIGTERM, SIGINT),
      childSignals(io, SIGCHLD),
      lastChance(io),
      counts(std::make_shared<Admissions>(settings.limits.connectionsPerAddress)) {}

bool Server::start() {
  beast::error_code error;
  const auto address = asio::ip::make_address(settings.host, error);
  if (error) {
    log("cannot listen on " + settings.host + ": not an IP address");
    return false;
  }
  const tcp::endpoint endpoint(address, settings.port);
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    log("cannot listen on " + settings.host + ":" + std::to_string(settings.port) + ": " +
        error.message());
    return false;
  }
  const tcp::endpoint bound = acceptor.local_endpoint();
  const std::string host = bound.address().is_v6() ? "[" + bound.address().to_string() + "]"
                                                   : bound.address().to_string();
  log("listening on http://" + host + ":" + std::to_string(bound.port()) + "/");
  accept();
  waitForSignal();
  waitForChildren();
  return true;
}

void Server::accept() {
  acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted || shuttingDown) return;
    if (error) {
      // Out of descriptors, most likely: try again in a moment rather than spin.
      lastChance.expires_after(kAcceptRetry);
      lastChance.async_wait([this](beast::error_code waited) {
        if (!waited && !shuttingDown) accept();
      });
      return;
    }
    beast::error_code ignored;
    const std::string address = socket.remote_endpoint(ignored).address().to_string();
    std::make_shared<HttpSession>(*this, std::move(socket), address)->start();
    accept();
  });
}

bool Admissions::admit(const std::string& address) {
  int& count = open[address];
  if (count >= most) {
    countRefusal(Refusal::Connections);
    log("refused " + address + ": more than " + std::to_string(most) + " connections");
    return false;
  }
  ++count;
  return true;
}

void Admissions::release(const std::string& address) {
  const auto found = open.find(address);
  if (found == open.end()) return;
  if (--found->second <= 0) open.erase(found);
}

std::vector<RunningGame> Server::runningGames() const {
  std::vector<RunningGame> games;
  for (const auto& [pid, player] : players) {
    const LiveGame live = player->summary();
    games.push_back({pid, player->addressText(), live.id, live.watchers, player->age()});
  }
  return games;
}

void Server::gameStarted(const std::shared_ptr<Player>& player, int pid) {
  players[pid] = player;
  log("game started for " + player->addressText() + " (pid " + std::to_string(pid) + ", game " +
      player->watchers()->id() + ", " + std::to_string(players.size()) + " running)");
}

std::vector<LiveGame> Server::liveGames() const {
  std::vector<LiveGame> games;
  for (const auto& [pid, player] : players)
    games.push_back(player->summary());
  return games;
}

std::shared_ptr<Audience> Server::watchersOf(const std::string& id) const {
  if (id.empty()) return nullptr;
  for (const auto& [pid, player] : players) {
    if (player->watchers() && player->watchers()->id() == id) return player->watchers();
  }
  return nullptr;
}

void Server::waitForSignal() {
  quitSignals.async_wait([this](beast::error_code error, int) {
    if (!error) shutDown();
  });
}

void Server::waitForChildren() {
  childSignals.async_wait([this](beast::error_code error, int) {
    if (error) return;
    reap();
    waitForChildren();
  });
}

void Server::reap() {
  for (;;) {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid <= 0) break;
    const auto found = players.find(pid);
    if (found == players.end()) continue;
    const std::shared_ptr<Player> player = found->second;
    players.erase(found);
    player->exited(status);
  }
  if (shuttingDown) finishWhenIdle();
}

void Server::shutDown() {
  if (shuttingDown) return;
  shuttingDown = true;
  log("shutting down: ending " + std::to_string(players.size()) + " games");
  beast::error_code ignored;
  acceptor.close(ignored);
  quitSignals.cancel(ignored);
  lastChance.cancel();
  for (auto& [pid, player] : std::map<int, std::shared_ptr<Player>>(players))
    player->shutDown();
  lastChance.expires_after(kShutdownGrace);
  lastChance.async_wait([this](beast::error_code error) {
    if (error) return;
    for (const auto& [pid, player] : players)
      kill(-pid, SIGKILL);
    for (const auto& [pid, player] : players)
      waitpid(pid, nullptr, 0);
    players.clear();
    io.stop();
  });
  finishWhenIdle();
}

void Server::finishWhenIdle() {
  if (!players.empty()) return;
  // Every game has ended: the last words to the players have a moment to leave.
  lastChance.expires_after(std::chrono::milliseconds(200));
  lastChance.async_wait([this](beast::error_code error) {
    if (!error) io.stop();
  });
}

}  // namespace server

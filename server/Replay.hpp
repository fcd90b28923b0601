#pragma once

// The replay of a finished game on the WebSocket /replay?rec=NAME: the recording NAME (one the
// data directory lists, see Lobby.hpp) plays in a child of its own, confined as a game is
// (vesperdeep-pipe --replay), whose frames and positions go to the page and which obeys the
// page's controls (docs/protocol.md, "Replays").

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http.hpp>

#include <string>

namespace server {

class Server;

// Opens the WebSocket of `request` on `socket` and starts the replay of the recording at
// `path` (already checked against the directory's listing), or tells the page why not.
void startReplay(Server& server, boost::asio::ip::tcp::socket socket, std::string address,
                 const boost::beast::http::request<boost::beast::http::empty_body>& request,
                 std::string path);

}  // namespace server

#pragma once

// The lobby's data: the finished games recorded in the data directory (listed cheaply: a file
// is read again only when its name, size or time changes; a damaged one is refused with one
// line, logged once), each recording to download, and today's cave with the day's games that
// came to the end screen, each confirmed by replaying it in a confined child.

#include <boost/asio/any_io_executor.hpp>
#include <boost/beast/http.hpp>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

namespace server {

class Server;

using Answer = boost::beast::http::response<boost::beast::http::string_body>;

// Today's cave, the same on every server: the partition of the UTC date YYYY-MM-DD is the
// number YYYYMMDD (2026-12-08 gives 20261208).
std::uint32_t todaysPartition(std::time_t now);

// The value of `key` in the query of `target` ("/replay?rec=NAME" gives NAME for "rec"), as it
// is (no decoding: the names it is used for need none); an empty string when there is none.
std::string queryValue(std::string_view target, std::string_view key);

// The path of the finished recording `name` in `dir` when the directory's listing holds a
// readable recording of exactly that name; an empty string otherwise. Nothing in `name` is
// ever used as a path itself.
std::string finishedRecording(const std::string& dir, std::string_view name);

// The answer to /games.json (the lobby's lists) and /recordings/NAME.vdrec (a recording to
// download); nullptr for any other target. Starts the confirmation of today's results not yet
// confirmed, on `executor`.
std::shared_ptr<Answer> lobbyAnswer(Server& server, const boost::asio::any_io_executor& executor,
                                    std::string_view target);

}  // namespace server

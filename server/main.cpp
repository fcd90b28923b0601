// vesperdeep-server: Vesperdeep in a web page (see server/Server.hpp and docs/protocol.md).

#include <fcntl.h>
#include <unistd.h>

#include <boost/asio.hpp>
#include <csignal>
#include <string>

#include "Options.hpp"
#include "Server.hpp"
#include "Spawn.hpp"

namespace {

// Standard input, output and error open (on /dev/null if they were closed), so that no pipe or
// socket of the server ever takes their numbers.
void keepStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) continue;
    const int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  keepStandardDescriptors();
  const server::Options options = server::parseOptions(argc, argv);
  if (options.statusOf)
    return server::queryStatus(options.statusOf->first, options.statusOf->second);
  if (geteuid() == 0 && !options.allowRoot) {
    server::log("refusing to run as root: start it as an ordinary user (it needs no privileges)");
    return 1;
  }
  const std::string program = server::gameProgram();
  if (program.empty() || access(program.c_str(), X_OK) != 0) {
    server::log("cannot find the game, vesperdeep-pipe (" + program + ")");
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);
  boost::asio::io_context io;
  server::Server server(io, options, program);
  if (!server.start()) return 1;
  io.run();
  server::log("stopped");
  return 0;
}

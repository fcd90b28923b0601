#include "Spawn.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Protocol.hpp"

namespace server {
namespace {

constexpr const char* kGameProgram = "vesperdeep-pipe";

struct Limit {
  int resource;
  rlim_t value;
};

// What the child needs between its start and exec, all made before it starts.
struct ChildPlan {
  pid_t parent;
  const char* program;
  const char* directory;
  char* const* argv;
  char* const* envp;
  const Limit* limits;
  std::size_t limitCount;
  int keysFd;
  int framesFd;
  int nullFd;
};

// Everything the child does before exec: only system calls, writing nothing of the server's
// memory but errno. The child shares the server's memory until it execs (see startChild), so
// this runs uninstrumented (the sanitizers' bookkeeping would be written into the server's),
// and no handler of the server's may run in it: signals stay blocked until every handler is
// back to its default.
__attribute__((no_sanitize("address", "undefined"))) int becomeGame(void* argument) {
  const ChildPlan& plan = *static_cast<const ChildPlan*>(argument);
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != plan.parent) _exit(127);  // the server died before the line above
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) {
    struct sigaction now {};
    if (sigaction(number, nullptr, &now) == 0 && now.sa_handler != SIG_DFL &&
        (now.sa_handler != SIG_IGN || number == SIGPIPE))
      sigaction(number, &byDefault, nullptr);  // the server ignores SIGPIPE; the game does not
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (dup2(plan.keysFd, STDIN_FILENO) < 0 || dup2(plan.nullFd, STDOUT_FILENO) < 0 ||
      dup2(plan.framesFd, protocol::kFrameFd) < 0)
    _exit(127);
  close_range(protocol::kFrameFd + 1, ~0U, 0);
  for (std::size_t i = 0; i < plan.limitCount; ++i) {
    const rlimit limit{plan.limits[i].value, plan.limits[i].value};
    if (setrlimit(plan.limits[i].resource, &limit) != 0) _exit(127);
  }
  if (chdir(plan.directory) != 0) _exit(127);
  execve(plan.program, plan.argv, plan.envp);
  _exit(127);
}

// Starts the child on a stack of its own, sharing the server's memory and suspending the server
// until the child has exec'd or died, as posix_spawn does. A fork would copy the server's page
// tables and then fault on every page the server writes next: with hundreds of games that held
// every player's keys for a few hundred milliseconds at each new game.
pid_t startChild(ChildPlan& plan) {
  constexpr std::size_t kStackBytes = 64 * 1024;
  std::vector<char> stack(kStackBytes);
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);  // the child starts with every signal blocked
  const pid_t pid =
      clone(becomeGame, stack.data() + stack.size(), CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
  const int cloneError = errno;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = cloneError;
  return pid;
}

}  // namespace

std::string gameProgram() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return {};
  std::string path(self, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  const std::string directory = path.substr(0, slash + 1);
  const std::string beside = directory + kGameProgram;
  if (access(beside.c_str(), X_OK) == 0) return beside;
  return directory + VESPERDEEP_HELPER_DIR + "/" + kGameProgram;
}

Spawned spawnGame(const std::string& program, const Options& options, std::string& why,
                  const std::vector<std::string>& extra) {
  // Everything the child needs is made before it starts.
  const std::string directory = program.substr(0, program.rfind('/') + 1);
  std::vector<std::string> arguments{program};
  if (options.partition) {
    arguments.emplace_back("--partition");
    arguments.push_back(std::to_string(*options.partition));
  }
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  std::vector<std::string> environment{"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"};
  for (const std::string& name : options.passEnv) {
    if (const char* value = std::getenv(name.c_str())) environment.push_back(name + "=" + value);
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  const Limits& limits = options.limits;
  std::vector<Limit> rlimits{
      {RLIMIT_CPU, limits.cpuSeconds}, {RLIMIT_NOFILE, limits.openFiles}, {RLIMIT_CORE, 0}};
  if (limits.memoryMb > 0) rlimits.push_back({RLIMIT_AS, limits.memoryMb << 20});

  int keys[2] = {-1, -1};
  int frames[2] = {-1, -1};
  const int nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const auto closeAll = [&] {
    for (int fd : {keys[0], keys[1], frames[0], frames[1], nullFd}) {
      if (fd >= 0) close(fd);
    }
  };
  if (nullFd < 0 || pipe2(keys, O_CLOEXEC) != 0 || pipe2(frames, O_CLOEXEC) != 0) {
    why = std::string("cannot make the game's pipes: ") + std::strerror(errno);
    closeAll();
    return {};
  }
  ChildPlan plan{getpid(),       program.c_str(), directory.c_str(), argv.data(), envp.data(),
                 rlimits.data(), rlimits.size(),  keys[0],           frames[1],   nullFd};
  const pid_t pid = startChild(plan);
  if (pid < 0) {
    why = std::string("cannot start a process: ") + std::strerror(errno);
    closeAll();
    return {};
  }
  setpgid(pid, pid);  // also here, so that the group exists before the server signals it
  close(keys[0]);
  close(frames[1]);
  close(nullFd);
  return {pid, keys[1], frames[0]};
}

}  // namespace server

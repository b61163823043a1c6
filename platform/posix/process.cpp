// Starting a program from a command line with posix_spawnp, no shell in between, and waiting for
// its end through a process descriptor, so a request to end is not held up by it.
#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/wait_fd.h"
#include "platform/termination.h"

extern char** environ;

namespace plat {
namespace {

// The program starts with the signal handling a shell would give it, not the tool's.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attr_);
    sigset_t defaults;
    posix::ChildDefaultSignals(defaults);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

// Waits until the program has ended and collects it. A request to end stops the wait: the
// program then finishes on its own.
void AwaitEnd(pid_t pid) {
  const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (handle >= 0) {
    const WaitResult end = posix::WaitFd(handle, POLLIN, kWaitForever);
    close(handle);
    if (end == WaitResult::Terminated) return;
  }
  // Ended (or no process descriptors on this system: a plain wait).
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR && !TerminationRequested()) {
  }
}

}  // namespace

bool RunCommandLine(const char* commandLine) {
  // Words are separated by blanks, tabs and line ends, as the system's own command-line
  // parser separates them; the words are handed over as they are.
  std::vector<std::string> words;
  std::istringstream in(commandLine);
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty()) return false;

  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  const SpawnAttributes attributes;
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, attributes.get(), argv.data(), environ) != 0) {
    return false;
  }
  AwaitEnd(pid);
  return true;
}

}  // namespace plat

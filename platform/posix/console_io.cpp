// Standard input and output on POSIX: reads and key presses wait through WaitFd, so a request to
// end ends them at once; a key is read in termios non-canonical mode, restored by a guard.
#include "platform/console_io.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/wait_fd.h"
#include "platform/termination.h"

namespace plat {
namespace {

// Puts the terminal into key mode (no line editing, no echo) for its lifetime; the signal keys
// keep working, so Ctrl-C still reaches the watch.
class KeyModeGuard {
 public:
  KeyModeGuard() {
    ok_ = tcgetattr(STDIN_FILENO, &saved_) == 0;
    if (!ok_) return;
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  ~KeyModeGuard() {
    if (ok_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  KeyModeGuard(const KeyModeGuard&) = delete;
  KeyModeGuard& operator=(const KeyModeGuard&) = delete;

 private:
  bool ok_ = false;
  termios saved_{};
};

}  // namespace

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

std::size_t ReadInput(std::span<char> dest) {
  for (;;) {
    if (posix::WaitFd(STDIN_FILENO, POLLIN, kWaitForever) == WaitResult::Terminated) return 0;
    const ssize_t got = read(STDIN_FILENO, dest.data(), dest.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR && errno != EAGAIN) return 0;
  }
}

int ReadTerminalKey() {
  const KeyModeGuard guard;
  for (;;) {
    if (posix::WaitFd(STDIN_FILENO, POLLIN, kWaitForever) == WaitResult::Terminated) return -1;
    unsigned char c = 0;
    const ssize_t got = read(STDIN_FILENO, &c, 1);  // one key: what follows stays typed ahead
    if (got == 1) return c;
    if (got == 0 || (errno != EINTR && errno != EAGAIN)) return -1;
  }
}

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = write(fd, bytes.data(), bytes.size());
    if (put > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(put));
      continue;
    }
    if (put < 0 && errno == EAGAIN) {
      // An output someone else made non-blocking: wait for room like a blocking write would.
      if (posix::WaitFd(fd, POLLOUT, kWaitForever) == WaitResult::Terminated) return true;
      continue;
    }
    // A signal interrupted a write that was blocked: go on, unless it asked the run to end.
    if (put < 0 && errno == EINTR) {
      if (TerminationRequested()) return true;
      continue;
    }
    return false;  // EPIPE, EIO: nobody reads the output any more
  }
  return true;
}

}  // namespace

bool WriteOutput(std::string_view bytes) { return WriteAll(STDOUT_FILENO, bytes); }
bool WriteErrorOutput(std::string_view bytes) { return WriteAll(STDERR_FILENO, bytes); }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace plat

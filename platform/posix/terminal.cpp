// One key press without echo: termios non-canonical mode, restored by a guard, also on signals.
#include "platform/terminal.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/signals.h"

namespace plat {
namespace {

// Puts the terminal into key mode for its lifetime. The terminating signals are blocked while it
// is set up and torn down, and only let through while the wait itself runs (ppoll), so one can
// never slip in between the set-up and the wait and leave the wait blocked. Such a signal ends
// the wait; the guard restores the terminal first, and only then does its watch let the signal
// take its course.
class KeyModeGuard {
 public:
  KeyModeGuard() {
    sigset_t terminating;
    sigemptyset(&terminating);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&terminating, s);
    sigprocmask(SIG_BLOCK, &terminating, &waitMask_);
    ok_ = tcgetattr(STDIN_FILENO, &saved_) == 0;
    if (ok_) {
      termios raw = saved_;
      raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
  }
  ~KeyModeGuard() {
    if (ok_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    sigprocmask(SIG_SETMASK, &waitMask_, nullptr);  // a blocked signal is noted now
  }
  KeyModeGuard(const KeyModeGuard&) = delete;
  KeyModeGuard& operator=(const KeyModeGuard&) = delete;

  // Waits for one byte; -1 when input has ended or termination was requested.
  int ReadOne() const {
    for (;;) {
      if (TerminationRequested()) return -1;
      pollfd in{STDIN_FILENO, POLLIN, 0};
      if (ppoll(&in, 1, nullptr, &waitMask_) < 0) {
        if (errno == EINTR) continue;  // the loop's first test tells what it was
        return -1;
      }
      unsigned char c = 0;
      const ssize_t got = read(STDIN_FILENO, &c, 1);
      if (got == 1) return c;
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return -1;
    }
  }

 private:
  TerminationWatch watch_;  // declared first: it ends last, after the terminal is restored
  bool ok_ = false;
  termios saved_{};
  sigset_t waitMask_{};
};

}  // namespace

int ReadKey() {
  if (!isatty(STDIN_FILENO)) {
    // Lines are read through the standard input buffer, so a key comes from the same buffer.
    const int c = std::getc(stdin);
    return c == EOF ? -1 : c;
  }
  // On a terminal a line read takes exactly one line, so nothing is left in the standard input
  // buffer: the key is read from the terminal itself.
  const KeyModeGuard guard;
  return guard.ReadOne();
}

}  // namespace plat

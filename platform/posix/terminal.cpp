// One key press without echo: termios non-canonical mode, restored by a guard, also on signals.
#include "platform/terminal.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace plat {
namespace {

volatile sig_atomic_t g_pendingSignal = 0;

void NoteSignal(int signo) { g_pendingSignal = signo; }

constexpr int kWatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kWatchedCount = 3;

// Puts the terminal into key mode for its lifetime. The terminating signals are blocked while it
// is set up and torn down, and only let through while the wait itself runs (ppoll), so one can
// never slip in between the set-up and the wait and leave the wait blocked. Their handlers only
// note the signal; the guard restores the terminal first and then lets the signal take its
// usual course.
class KeyModeGuard {
 public:
  KeyModeGuard() {
    sigset_t watched;
    sigemptyset(&watched);
    for (const int s : kWatchedSignals) sigaddset(&watched, s);
    sigprocmask(SIG_BLOCK, &watched, &waitMask_);
    struct sigaction sa {};
    sa.sa_handler = NoteSignal;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < kWatchedCount; ++i) {
      sigaction(kWatchedSignals[i], nullptr, &previous_[i]);
      // A signal the tool was told to ignore stays ignored.
      if (previous_[i].sa_handler != SIG_IGN) sigaction(kWatchedSignals[i], &sa, nullptr);
    }
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
    for (int i = 0; i < kWatchedCount; ++i) sigaction(kWatchedSignals[i], &previous_[i], nullptr);
    const int signo = g_pendingSignal;
    g_pendingSignal = 0;
    if (signo != 0) raise(signo);  // stays pending until the mask is restored just below
    sigprocmask(SIG_SETMASK, &waitMask_, nullptr);
  }
  KeyModeGuard(const KeyModeGuard&) = delete;
  KeyModeGuard& operator=(const KeyModeGuard&) = delete;

  // Waits for one byte; -1 when input has ended or a terminating signal arrived.
  int ReadOne() const {
    for (;;) {
      pollfd in{STDIN_FILENO, POLLIN, 0};
      if (ppoll(&in, 1, nullptr, &waitMask_) < 0) {
        if (errno == EINTR && g_pendingSignal == 0) continue;  // a harmless signal
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
  bool ok_ = false;
  termios saved_{};
  sigset_t waitMask_{};
  struct sigaction previous_[kWatchedCount] {};
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

// One key press without echo: termios non-canonical mode, restored by a guard, also on signals.
#include "platform/terminal.h"

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

// Puts the terminal into key mode for its lifetime and catches the terminating signals meanwhile:
// the handlers only note the signal, so the read returns, the guard restores the terminal, and
// only then is the signal delivered again with its earlier disposition.
class KeyModeGuard {
 public:
  KeyModeGuard() {
    ok_ = tcgetattr(STDIN_FILENO, &saved_) == 0;
    struct sigaction sa {};
    sa.sa_handler = NoteSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the read must come back when a signal arrives
    for (int i = 0; i < 3; ++i) {
      sigaction(kWatchedSignals[i], nullptr, &previous_[i]);
      // A signal the tool was told to ignore stays ignored.
      if (previous_[i].sa_handler != SIG_IGN) sigaction(kWatchedSignals[i], &sa, nullptr);
    }
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
    for (int i = 0; i < 3; ++i) sigaction(kWatchedSignals[i], &previous_[i], nullptr);
    const int signo = g_pendingSignal;
    g_pendingSignal = 0;
    if (signo != 0) raise(signo);
  }
  KeyModeGuard(const KeyModeGuard&) = delete;
  KeyModeGuard& operator=(const KeyModeGuard&) = delete;

 private:
  bool ok_ = false;
  termios saved_{};
  struct sigaction previous_[3] {};
};

}  // namespace

int ReadKey() {
  if (!isatty(STDIN_FILENO)) {
    const int c = std::getc(stdin);
    return c == EOF ? -1 : c;
  }
  KeyModeGuard guard;
  for (;;) {
    const int c = std::getc(stdin);
    if (c != EOF) return c;
    if (std::ferror(stdin) && errno == EINTR && g_pendingSignal == 0) {
      std::clearerr(stdin);
      continue;  // a harmless signal interrupted the wait
    }
    std::clearerr(stdin);
    return -1;  // input ended, or a terminating signal arrived: the guard handles it
  }
}

}  // namespace plat

// Terminating signals noted by a handler that sets a flag and makes the wake-up pipe readable,
// so every wait (WaitFd) sees the request however close to the wait it came, and shuts a socket
// that a receive blocks on (ShutOnRequest); raised again once the watch ends.
#include "platform/termination.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "platform/posix/wait_fd.h"

namespace plat {
namespace {

// The signal to raise when the watch ends (0: none). Lock-free atomics are safe in a handler, and
// order the note against the receive's registration below, whichever thread takes the signal.
std::atomic<int> g_noted{0};
static_assert(std::atomic<int>::is_always_lock_free);
// The socket a receive blocks on, or is about to (ShutOnRequest); -1: none.
std::atomic<int> g_receiving{-1};
int g_wakeRead = -1;
int g_wakeWrite = -1;
bool g_watching = false;
bool g_pipeIgnoredByWatch = false;  // SIGPIPE was not ignored before the watch

// Async-signal-safe: one byte into a non-blocking pipe that nobody reads, so it stays readable
// for every later wait; and a socket that a receive blocks on is shut for reading, which ends
// the receive at once (with 0) or, when it has not begun yet, as soon as it begins.
void Wake() {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_wakeWrite, &byte, 1);
  const int receiving = g_receiving.load();
  if (receiving >= 0) shutdown(receiving, SHUT_RD);
  errno = saved;
}

void Note(int signo) {
  int none = 0;
  g_noted.compare_exchange_strong(none, signo);
  Wake();
}

constexpr std::array<int, 4> kTerminating = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

}  // namespace

struct TerminationWatch::Saved {
  std::array<struct sigaction, kTerminating.size()> previous{};
  struct sigaction previousPipe {};
};

TerminationWatch::TerminationWatch() {
  if (g_watching) return;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;  // no watch: signals keep their course
  g_wakeRead = ends[0];
  g_wakeWrite = ends[1];
  g_watching = true;
  saved_ = std::make_unique<Saved>();

  struct sigaction note {};
  note.sa_handler = Note;
  sigfillset(&note.sa_mask);  // one handler at a time
  note.sa_flags = 0;          // no SA_RESTART: a blocked call comes back to look at the request
  for (std::size_t i = 0; i < kTerminating.size(); ++i) {
    sigaction(kTerminating[i], nullptr, &saved_->previous[i]);
    if (saved_->previous[i].sa_handler != SIG_IGN) sigaction(kTerminating[i], &note, nullptr);
  }
  // A closed output shows as a failed write (NoteOutputLost), not as a death on the spot.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &saved_->previousPipe);
  g_pipeIgnoredByWatch = saved_->previousPipe.sa_handler != SIG_IGN;
}

TerminationWatch::~TerminationWatch() {
  if (!saved_) return;
  for (std::size_t i = 0; i < kTerminating.size(); ++i) {
    sigaction(kTerminating[i], &saved_->previous[i], nullptr);
  }
  sigaction(SIGPIPE, &saved_->previousPipe, nullptr);
  const int signo = g_noted.exchange(0);
  g_watching = false;
  g_pipeIgnoredByWatch = false;
  close(g_wakeRead);
  close(g_wakeWrite);
  g_wakeRead = g_wakeWrite = -1;
  if (signo != 0) raise(signo);  // its usual course: for most, the end of the process
}

bool TerminationRequested() { return g_noted.load() != 0; }

int TakeTerminationRequest() { return g_noted.exchange(0); }

void NoteOutputLost() {
  if (!g_watching) return;
  // Blocked while noting, so a signal cannot slip in between and be overwritten.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &before);
  int none = 0;
  g_noted.compare_exchange_strong(none, SIGPIPE);
  Wake();
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

namespace posix {

int WakeHandle() { return g_wakeRead; }

// Registered before the caller looks at the request (both sequentially consistent): either the
// caller sees a request noted before, or the handler sees the socket and shuts it.
ShutOnRequest::ShutOnRequest(int socket) { g_receiving.store(socket); }
ShutOnRequest::~ShutOnRequest() { g_receiving.store(-1); }

void ChildDefaultSignals(sigset_t& set) {
  sigemptyset(&set);
  if (g_pipeIgnoredByWatch) sigaddset(&set, SIGPIPE);
}

}  // namespace posix
}  // namespace plat

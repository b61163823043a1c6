// Pauses and descriptor waits that end at once on a request to end: poll on the descriptor and
// the termination watch's wake-up pipe.
#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "platform/clock.h"
#include "platform/posix/wait_fd.h"
#include "platform/termination.h"
#include "platform/wait.h"

namespace plat {
namespace posix {

WaitResult WaitFd(int fd, short events, std::int32_t timeoutMs) {
  const std::uint32_t start = TickCount();
  int left = timeoutMs < 0 ? -1 : timeoutMs;
  for (;;) {
    if (TerminationRequested()) return WaitResult::Terminated;
    // A negative descriptor is passed over by poll, so a pause watches the pipe alone.
    pollfd fds[2] = {{WakeHandle(), POLLIN, 0}, {fd, events, 0}};
    const int ready = poll(fds, 2, left);
    if (ready > 0) {
      return fds[0].revents != 0 ? WaitResult::Terminated : WaitResult::Ready;
    }
    if (ready < 0 && errno != EINTR) return WaitResult::Ready;  // the caller's call reports it
    // Time up, or a signal came in between (the loop's first test tells whether it ends it).
    if (timeoutMs >= 0) {
      const std::uint32_t waited = TickCount() - start;
      if (waited >= static_cast<std::uint32_t>(timeoutMs)) return WaitResult::TimedOut;
      left = static_cast<int>(static_cast<std::uint32_t>(timeoutMs) - waited);
    }
  }
}

}  // namespace posix

WaitResult Pause(std::uint32_t milliseconds) {
  return posix::WaitFd(-1, 0, static_cast<std::int32_t>(std::min(milliseconds, 0x7FFFFFFFu)));
}

}  // namespace plat

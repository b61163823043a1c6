// The POSIX side of the one wait: poll on a descriptor together with the termination watch's
// wake-up pipe, so a request to end noted at any moment, before or during the wait, ends it.
#pragma once

#include <poll.h>
#include <signal.h>

#include <cstdint>

#include "platform/wait.h"

namespace plat::posix {

// Waits until fd reports one of the poll events (an error or hang-up counts as Ready, for the
// caller's read or write to see), the time is up (timeoutMs < 0: never), or a request to end is
// noted. A request to end wins over a ready descriptor. fd < 0 waits for time alone.
WaitResult WaitFd(int fd, short events, std::int32_t timeoutMs);

// The read end of the wake-up pipe, readable once a request to end is noted; -1 without a watch.
int WakeHandle();

// While it exists, a request to end shuts the socket for reading, so a receive that blocks on it
// returns at once (with 0), also one that begins after the request: a blocking receive needs no
// poll beside it. Made before the caller looks at TerminationRequested; one at a time.
class ShutOnRequest {
 public:
  explicit ShutOnRequest(int socket);
  ~ShutOnRequest();
  ShutOnRequest(const ShutOnRequest&) = delete;
  ShutOnRequest& operator=(const ShutOnRequest&) = delete;
};

// Signals whose handling the watch changed in a way a started program must not inherit (an
// ignored SIGPIPE); the program starts with them at their default.
void ChildDefaultSignals(sigset_t& set);

}  // namespace plat::posix

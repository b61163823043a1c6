// The Windows side of the one wait: WaitForMultipleObjects on an object together with the
// termination watch's event, so a request to end noted at any moment, before or during the
// wait, ends it. Blocking calls that no object can stand for are cancelled instead.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/wait.h"

namespace plat::win32 {

// Waits until the object is signalled (a failed wait counts as Ready, for the caller's call to
// see), the time is up (timeoutMs < 0: never), or a request to end is noted. A request to end
// wins over a signalled object. A null object waits for time alone.
WaitResult WaitHandle(HANDLE object, std::int32_t timeoutMs);

// The watch's manual-reset event, set once a request to end is noted; null without a watch.
HANDLE WakeEvent();

// Marks a blocking call of the thread that made the watch that no object can stand for: a
// console line read, which waits inside the console's own line editing until Enter, or a write
// to a full pipe. While the mark stands, a request to end cancels the call (it then fails with
// ERROR_OPERATION_ABORTED). Make the mark, then look at TerminationRequested, then call: a
// request that comes in between is not lost, the handler cancels until the mark is gone.
class BlockingCall {
 public:
  BlockingCall();
  ~BlockingCall();
  BlockingCall(const BlockingCall&) = delete;
  BlockingCall& operator=(const BlockingCall&) = delete;
};

}  // namespace plat::win32

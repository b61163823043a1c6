// Pauses and object waits that end at once on a request to end: WaitForMultipleObjects on the
// object and the termination watch's event.
#include <algorithm>

#include "platform/wait.h"
#include "platform/win32/wait_handle.h"

namespace plat {
namespace win32 {

WaitResult WaitHandle(HANDLE object, std::int32_t timeoutMs) {
  const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  const HANDLE wake = WakeEvent();
  // The watch's event comes first: with both signalled the lowest index is reported, so a
  // request to end wins.
  HANDLE handles[2];
  DWORD count = 0;
  if (wake != nullptr) handles[count++] = wake;
  if (object != nullptr) handles[count++] = object;
  if (count == 0) {
    Sleep(limit);  // no watch and nothing to wait for: time alone
    return WaitResult::TimedOut;
  }
  const DWORD result = WaitForMultipleObjects(count, handles, FALSE, limit);
  if (result == WAIT_TIMEOUT) return WaitResult::TimedOut;
  if (wake != nullptr && result == WAIT_OBJECT_0) return WaitResult::Terminated;
  return WaitResult::Ready;
}

}  // namespace win32

WaitResult Pause(std::uint32_t milliseconds) {
  return win32::WaitHandle(nullptr, static_cast<std::int32_t>(std::min(milliseconds, 0x7FFFFFFFu)));
}

}  // namespace plat

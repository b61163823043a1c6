// Console events (Ctrl-C, Ctrl-Break, closing the console window, logging off, shutting down)
// noted by a SetConsoleCtrlHandler handler that sets a flag and the watch's manual-reset event,
// so every wait (WaitHandle) sees the request however close to the wait it came; a blocking call
// that no object stands for is cancelled. When the watch ends, a noted console event ends the
// process as the system's own handling of Ctrl-C does: exit status STATUS_CONTROL_C_EXIT.
#include "platform/termination.h"

#include <windows.h>

#include <atomic>

#include "platform/win32/handle.h"
#include "platform/win32/wait_handle.h"

namespace plat {
namespace {

enum Noted : int { kNothing = 0, kConsoleEvent = 1, kOutputLost = 2 };

std::atomic<int> g_noted{kNothing};   // the first request noted
std::atomic<bool> g_blocking{false};  // a BlockingCall mark stands
HANDLE g_wake = nullptr;              // set once a request is noted
HANDLE g_watchThread = nullptr;       // the thread that made the watch, for cancelling its calls
bool g_watching = false;

// How long the handler keeps cancelling a marked call that does not give way (a system whose
// console reads cannot be cancelled), in milliseconds.
constexpr DWORD kCancelForMs = 2000;

void Note(Noted what) {
  int expected = kNothing;
  g_noted.compare_exchange_strong(expected, what);
  SetEvent(g_wake);
}

// Runs on a thread of its own that the system starts for each console event.
BOOL WINAPI OnConsoleEvent(DWORD type) {
  Note(kConsoleEvent);
  // A blocking call marked now, or about to be made under a mark, gives way: cancelled until the
  // console thread has left it (a cancel that comes before the call starts finds nothing).
  const DWORD start = GetTickCount();
  while (g_blocking.load() && GetTickCount() - start < kCancelForMs) {
    CancelSynchronousIo(g_watchThread);
    Sleep(1);
  }
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // Returning lets the system end the process at once. Held here, the console thread closes
    // the link and puts the console back, then ends the process itself (or the system ends it
    // when its grace time for closing is over).
    Sleep(INFINITE);
  }
  return TRUE;  // handled: the console thread ends the run
}

}  // namespace

struct TerminationWatch::Saved {
  win32::UniqueHandle wake;
  win32::UniqueHandle thread;
};

TerminationWatch::TerminationWatch() {
  if (g_watching) return;
  auto saved = std::make_unique<Saved>();
  saved->wake.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  saved->thread.reset(OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()));
  if (!saved->wake || !saved->thread) return;  // no watch: console events keep their course
  g_wake = saved->wake.get();
  g_watchThread = saved->thread.get();
  if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
    g_wake = g_watchThread = nullptr;
    return;
  }
  g_watching = true;
  saved_ = std::move(saved);
}

TerminationWatch::~TerminationWatch() {
  if (!saved_) return;
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  const int noted = g_noted.exchange(kNothing);
  g_watching = false;
  // The event and the thread handle stay open until the process ends when a handler may still
  // be running (it was told to end the process); otherwise they close with saved_.
  if (noted == kConsoleEvent) ExitProcess(STATUS_CONTROL_C_EXIT);
  g_wake = g_watchThread = nullptr;
}

bool TerminationRequested() { return g_noted.load() != kNothing; }

int TakeTerminationRequest() {
  // The numbers of the C runtime's SIGINT and of the POSIX SIGPIPE, as the POSIX build reports.
  constexpr int kInterrupt = 2;
  constexpr int kPipe = 13;
  switch (g_noted.exchange(kNothing)) {
    case kConsoleEvent:
      return kInterrupt;
    case kOutputLost:
      return kPipe;
    default:
      return 0;
  }
}

void NoteOutputLost() {
  if (g_watching) Note(kOutputLost);  // the run then ends with a failure status (no signal here)
}

namespace win32 {

HANDLE WakeEvent() { return g_wake; }

BlockingCall::BlockingCall() { g_blocking.store(true); }
BlockingCall::~BlockingCall() { g_blocking.store(false); }

}  // namespace win32
}  // namespace plat

// Starting a program from a command line with CreateProcessA, hidden and sharing the console,
// and waiting for its end on the process handle, so a request to end is not held up by it.
#include "platform/process.h"

#include <windows.h>

#include <string>

#include "platform/win32/handle.h"
#include "platform/win32/wait_handle.h"

namespace plat {

bool RunCommandLine(const char* commandLine) {
  // The line goes to the system as it is: it finds the program by the line's first word and
  // hands the whole line to it, which splits it into words by its own rules. CreateProcessA may
  // write into the line it is given, hence the copy.
  std::string line(commandLine);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return false;
  }
  const win32::UniqueHandle process(started.hProcess);
  const win32::UniqueHandle thread(started.hThread);
  // Until it has ended; a request to end stops the wait and the program finishes on its own.
  win32::WaitHandle(process.get(), kWaitForever);
  return true;
}

}  // namespace plat

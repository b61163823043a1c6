// A request to end the run: a terminating signal, or output that can no longer be written. Every
// wait of the tools watches for it, so what the tool changed (terminal modes, serial line
// settings) is put back before the run ends.
#pragma once

#include <memory>

namespace plat {

// While the watch exists, an interrupt, terminate, hang-up or quit signal only notes the request,
// and every wait of the platform seam (wait.h, console_io.h, the socket and serial waits, the
// wait for a helper program) ends at once, whether the request came before the wait began or
// during it. Signals the tool was told to ignore stay ignored. When the watch ends, the earlier
// handling comes back and a noted signal is raised again, so that it takes its usual course
// (ending the process by that signal). One watch at a time: a second one does nothing.
class TerminationWatch {
 public:
  TerminationWatch();
  ~TerminationWatch();
  TerminationWatch(const TerminationWatch&) = delete;
  TerminationWatch& operator=(const TerminationWatch&) = delete;

  struct Saved;  // what the outermost watch changed, defined by each system

 private:
  std::unique_ptr<Saved> saved_;
};

// True once a request to end has been noted while a watch is in place.
bool TerminationRequested();

// Takes a noted request back, so that the end of the watch leaves it alone, for a program that
// ends with a status of its own after it has put everything back: the number of the signal
// noted (SIGPIPE for output that has gone; a console event on Windows counts as the interrupt,
// 2), or 0 when none was noted.
int TakeTerminationRequest();

// The console's output has gone (a closed pipe or terminal): noted as a request to end. When the
// watch ends the run ends as a writer to a closed pipe ends on this system.
void NoteOutputLost();

}  // namespace plat

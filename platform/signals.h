// Terminating signals (interrupt, terminate, hang-up) taken as a request to end, so that what the
// tool changed (terminal modes, serial line settings) is put back before the signal takes its course.
#pragma once

#include <memory>

namespace plat {

// While a watch exists, a terminating signal only notes the request and makes a console wait in
// progress return early; signals the tool was told to ignore stay ignored. Watches nest. When a
// watch ends, the earlier handling comes back and a noted signal is raised again, so that it
// takes its usual course there (for the outermost watch: ending the process by that signal).
class TerminationWatch {
 public:
  TerminationWatch();
  ~TerminationWatch();
  TerminationWatch(const TerminationWatch&) = delete;
  TerminationWatch& operator=(const TerminationWatch&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// True once a terminating signal has been noted by a watch that is still in place.
bool TerminationRequested();

}  // namespace plat

// Drives a program whose standard input and output are pipes, as a script or a pipeline would.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "tests/e2e/pty_driver.h"
#include "tests/toolkit/process.h"

namespace e2e {

// One program with a pipe as standard input (written as the test goes on) and a pipe as
// standard output (read by the test; standard error stays the test's). The destructor kills
// the program by its pid if it is still running, and reaps it.
class PipeProcess {
 public:
  // Throws std::system_error when the pipes or the process cannot be made.
  explicit PipeProcess(const PtyProcess::Options& options);
  PipeProcess(const PipeProcess&) = delete;
  PipeProcess& operator=(const PipeProcess&) = delete;

  pid_t Pid() const { return child_.Pid(); }

  // Writes to the program's input (reading its output meanwhile); false when it no longer
  // reads it.
  bool Write(std::string_view bytes);
  // Ends the program's input, as the end of a script does.
  void CloseInput() { input_.reset(); }
  // Stops reading its output, as "| head -c N" does once it has had enough.
  void CloseOutput() { output_.Close(); }

  // Reads until `text` shows in the output after what earlier reads consumed; returns the
  // output up to the end of `text`, or nothing when the wait ends or the output ends first.
  std::optional<std::string> ReadUntil(std::string_view text,
                                       std::chrono::milliseconds wait = kDefaultWait);
  // Its exit status, or minus the signal that ended it; nothing while it still runs.
  std::optional<int> WaitExit(std::chrono::milliseconds wait = kDefaultWait);

  const std::string& Output() const { return output_.Text(); }

 private:
  toolkit::UniqueFd input_;
  toolkit::Inbound output_;
  toolkit::Inbound* const streams_[1] = {&output_};
  toolkit::Child child_;  // last: the program is killed before its pipes close
};

}  // namespace e2e

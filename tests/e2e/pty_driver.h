// Drives a program through a pseudo-terminal the way a technician at a keyboard would.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <array>
#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/toolkit/process.h"

namespace e2e {

using namespace std::chrono_literals;

// Long enough for a sanitizer build on a busy machine; a wait ends as soon as its text shows.
inline constexpr std::chrono::milliseconds kDefaultWait = 10s;

// One program on its own pseudo-terminal. The terminal works like a console's: lines are edited
// and echoed until Enter, Ctrl-D ends input at the start of a line. Output is delivered as the
// program wrote it (no "\n" to "\r\n" translation), so print-outs compare byte for byte; typed
// lines show in the output as their echo, "\n" for Enter.
//
// The destructor kills the program by its pid if it is still running, and reaps it.
class PtyProcess {
 public:
  // The program, its arguments, folder and environment.
  struct Options : toolkit::Command {
    Options() = default;
    // Written as {program, args, folder, environment}, as a Command is.
    Options(std::string path, std::vector<std::string> arguments = {}, std::string folder = {},
            std::vector<std::string> environment = {})
        : toolkit::Command{std::move(path), std::move(arguments), std::move(folder),
                           std::move(environment)} {}
    // Standard output goes to a pipe, and the reads see what comes through it; the terminal
    // stays standard input and error (what a program draws on the terminal is kept apart).
    bool outputPipe = false;
  };

  // Throws std::runtime_error when the terminal or the process cannot be made.
  explicit PtyProcess(const Options& options);
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  pid_t Pid() const { return child_.Pid(); }

  // Reads until `text` shows in the output after what earlier reads consumed, and returns the
  // output from there up to the end of `text` (which it consumes). Nothing when the wait ends
  // or the output ends first.
  std::optional<std::string> ReadUntil(std::string_view text,
                                       std::chrono::milliseconds wait = kDefaultWait);
  // The same for whichever of the texts shows first.
  std::optional<std::string> ReadUntilAny(std::initializer_list<std::string_view> texts,
                                          std::chrono::milliseconds wait = kDefaultWait);
  bool Expect(std::string_view text, std::chrono::milliseconds wait = kDefaultWait) {
    return ReadUntil(text, wait).has_value();
  }

  // Types the line and Enter (a carriage return, as a keyboard sends it).
  void SendLine(std::string_view line);
  // Waits until the program reads single keys (the terminal has left line mode). False when
  // the program did not ask for a key in time.
  bool WaitForKeyMode(std::chrono::milliseconds wait = kDefaultWait);
  // Line editing and echo are on, as a terminal is left for the shell.
  bool InLineMode() const;
  // The terminal's modes as they are now.
  termios Modes() const;
  // Waits for key mode as above, then presses the key.
  bool SendKey(char key, std::chrono::milliseconds wait = kDefaultWait);
  // Ctrl-D: ends input when typed at the start of a line.
  void SendEof();

  // Waits for the program's end: its exit status, or minus the signal that ended it; nothing
  // when it still runs after the wait.
  std::optional<int> WaitExit(std::chrono::milliseconds wait = kDefaultWait);

  // Everything the program wrote so far, and the part no read has consumed yet.
  const std::string& Output() const { return Primary().Text(); }
  // With Options::outputPipe: what came on the terminal itself.
  const std::string& TerminalOutput() const { return terminal_.Text(); }
  std::string Unconsumed() const { return Primary().Unconsumed(); }
  // Whether typed lines show in Output() as their echo (not with Options::outputPipe).
  bool EchoInOutput() const { return !outputPipe_; }

 private:
  using Clock = toolkit::Clock;
  const toolkit::Inbound& Primary() const { return outputPipe_ ? pipe_ : terminal_; }
  toolkit::Inbound& Primary() { return outputPipe_ ? pipe_ : terminal_; }
  void Write(std::string_view bytes);

  bool outputPipe_ = false;
  toolkit::Inbound terminal_;  // the master side: written, read, and asked for its modes
  toolkit::Inbound pipe_;      // with Options::outputPipe: the read end
  // Both are read whenever the driver waits, so that drawing on either never blocks.
  std::array<toolkit::Inbound*, 2> streams_{&terminal_, &pipe_};
  toolkit::Child child_;  // last: the program is killed before its terminal closes
};

}  // namespace e2e

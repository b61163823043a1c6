// Drives a program through a pseudo-terminal the way a technician at a keyboard would.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  struct Options {
    std::string program;            // path of the program
    std::vector<std::string> args;  // its arguments, without the program itself
    std::string workDir;            // where it starts; empty: the current folder
    std::vector<std::string> env;   // "NAME=value": added to, or replacing, this environment
    // Standard output goes to a pipe, and the reads see what comes through it; the terminal
    // stays standard input and error (what a program draws on the terminal is kept apart).
    bool outputPipe = false;
  };

  // Throws std::runtime_error when the terminal or the process cannot be made.
  explicit PtyProcess(const Options& options);
  ~PtyProcess();
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  pid_t Pid() const { return pid_; }

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
  const std::string& Output() const { return output_; }
  // With Options::outputPipe: what came on the terminal itself.
  const std::string& TerminalOutput() const { return terminal_; }
  std::string Unconsumed() const { return output_.substr(consumed_); }

 private:
  using Clock = std::chrono::steady_clock;
  // Takes what the terminal has, waiting until the deadline at most; false when nothing more
  // will come (the program has closed the terminal).
  bool Pump(Clock::time_point deadline);
  void Write(std::string_view bytes);
  bool Reap(bool block);

  int master_ = -1;
  int outputPipe_ = -1;  // with Options::outputPipe: the read end
  pid_t pid_ = -1;
  bool ended_ = false;       // reaped
  int status_ = 0;           // exit status or minus the signal, once reaped
  bool outputClosed_ = false;
  bool terminalClosed_ = false;  // with an output pipe: the terminal's other side has gone
  std::string output_;
  std::string terminal_;
  std::size_t consumed_ = 0;
};

// The argument and environment arrays exec takes for a program of PtyProcess::Options (its
// environment: this process's, with the entries given added or replaced), prepared before a
// fork so that the child runs only exec-safe calls.
class ExecArgs {
 public:
  explicit ExecArgs(const PtyProcess::Options& options);
  char* const* Argv() { return argv_.data(); }
  char* const* Envp() { return envp_.data(); }

 private:
  std::vector<std::string> argWords_;
  std::vector<std::string> envWords_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

}  // namespace e2e

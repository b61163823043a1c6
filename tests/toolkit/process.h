// Programs a test or the bench starts, and the bounded reads, writes and waits that drive them.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/toolkit/fd.h"

namespace toolkit {

using Clock = std::chrono::steady_clock;

// A program to start: its path, arguments, folder and environment.
struct Command {
  std::string program;            // path of the program
  std::vector<std::string> args;  // its arguments, without the program itself
  std::string workDir;            // where it starts; empty: the current folder
  std::vector<std::string> env;   // "NAME=value": added to, or replacing, this environment
};

// Where a started program's standard streams go: a descriptor of this process, or -1 for this
// process's own stream.
struct Stdio {
  int in = -1;
  int out = -1;
  int err = -1;
};

// A child process, owned: killed by its pid and reaped at the end of its owner's life unless it
// has ended. Its end is a descriptor (a pidfd) that becomes readable, so every wait for it blocks
// with a limit instead of asking on a timer.
class Child {
 public:
  Child() = default;
  // Adopts a process this one has just forked. Throws std::system_error without a pidfd.
  explicit Child(pid_t pid);
  // Starts the command with its streams on the descriptors given.
  static Child Spawn(const Command& command, const Stdio& stdio = {});
  // Starts the command on a new pseudo-terminal (24 by 80) with these modes, its standard output
  // on `out` when given; returns it and the terminal's master side.
  static std::pair<Child, UniqueFd> OnTerminal(const Command& command, const termios& modes,
                                               int out = -1);
  ~Child() { Kill(); }
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return pid_; }
  // Readable once the process has ended.
  int ExitFd() const { return exit_.get(); }
  bool Ended() const { return status_.has_value(); }
  // Once reaped: its exit status, or minus the signal that ended it.
  std::optional<int> Status() const { return status_; }
  // Reaps the process if it has ended; true once it has.
  bool Reap();
  // Its exit status, or minus the signal that ended it; nothing when it still runs after `limit`.
  std::optional<int> Wait(std::chrono::milliseconds limit);
  // Ends it by SIGKILL unless it has ended, and reaps it: its status (nothing when there is no
  // process).
  std::optional<int> Kill();

 private:
  pid_t pid_ = -1;
  UniqueFd exit_;
  std::optional<int> status_;
};

// What a test reads from one descriptor: everything that came so far, and how far reads have
// consumed it. At the descriptor's end (end of file, or EIO from a terminal whose other side has
// gone) it stops being read; the descriptor itself stays open until Close (a terminal's modes
// can still be asked).
class Inbound {
 public:
  Inbound() = default;
  explicit Inbound(UniqueFd fd) : fd_(std::move(fd)) {}

  int Fd() const { return fd_.get(); }
  // Open and not at its end: more may come.
  bool Readable() const { return fd_ && !ended_; }
  void Close() { fd_.reset(); }
  // Takes in what the descriptor has ready (after poll said so).
  void ReadReady();

  const std::string& Text() const { return text_; }
  std::string Unconsumed() const { return text_.substr(consumed_); }
  // Consumes the text up to and with the first of `texts` shown after what is consumed, and
  // returns that part; nothing when none of them shows yet.
  std::optional<std::string> Take(std::span<const std::string_view> texts);

 private:
  UniqueFd fd_;
  bool ended_ = false;
  std::string text_;
  std::size_t consumed_ = 0;
};

// One wait, until the deadline at most, for any of the streams to have something and (with a
// child) for the child's end; takes in what came. True when something came or ended; false when
// the deadline passed first or nothing was left to wait for.
bool Pump(std::span<Inbound* const> streams, Child* child, Clock::time_point deadline);

// Reads until one of `texts` shows in `from` (see Inbound::Take), reading the other streams
// meanwhile so that a program writing to them never blocks. Nothing when the deadline passes or
// `from` ends first.
std::optional<std::string> ReadUntilAny(Inbound& from, std::span<const std::string_view> texts,
                                        Clock::time_point deadline,
                                        std::span<Inbound* const> others = {});

// Waits for the child's end until the deadline, reading the streams meanwhile (a program that
// still writes can then reach its end): its status, or nothing when it still runs.
std::optional<int> WaitExit(Child& child, std::span<Inbound* const> streams,
                            Clock::time_point deadline);

// Writes all of `bytes` to the descriptor (made non-blocking), reading the streams meanwhile (a
// terminal echoes what it is given). False when the other side stopped reading or the deadline
// passed first.
bool WriteAll(int fd, std::string_view bytes, Clock::time_point deadline,
              std::span<Inbound* const> streams = {});

}  // namespace toolkit

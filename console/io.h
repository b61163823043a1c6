// The console that prompts and reports talk to: the real one, or a scripted one in tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace console {

// Longest input line taken, in characters (the line buffer holds 4096 with its terminator).
inline constexpr std::size_t kMaxLine = 4095;

// Thrown when input has ended at a prompt or key wait, or the run was asked to end (a
// terminating signal, output that has gone): the tool then shuts down at once.
struct InputEnded {};

class ConsoleIo {
 public:
  enum class Line { Ok, TooLong, Ended };

  virtual ~ConsoleIo() = default;
  // Reads one line without its line end ("\n" or "\r\n"). A line longer than kMaxLine is
  // consumed whole and reported as TooLong.
  virtual Line ReadLine(std::string& line) = 0;
  // One key press without echo, or -1 when input has ended.
  virtual int ReadKey() = 0;
  virtual void Write(std::string_view text) = 0;
  // Pauses for the time given; false when the run was asked to end meanwhile.
  virtual bool Pause(std::uint32_t milliseconds) = 0;
  // What was written is shown now: the console shows it at the latest when the tool waits for
  // input or pauses; before an exchange on the link the tool asks for it here.
  virtual void Flush() {}
};

// The console in use: standard input and output unless a test has put another in place.
ConsoleIo& Io();

// Puts another console in place for its lifetime.
class ScopedIo {
 public:
  explicit ScopedIo(ConsoleIo& io);
  ~ScopedIo();
  ScopedIo(const ScopedIo&) = delete;
  ScopedIo& operator=(const ScopedIo&) = delete;

 private:
  ConsoleIo* previous_;
};

}  // namespace console

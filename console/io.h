// The console that prompts and reports talk to: the real one, or a scripted one in tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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

// The byte streams a StreamConsole works on: the system's standard input and output, or bytes
// that a test or a fuzzer provides.
class ConsoleStreams {
 public:
  virtual ~ConsoleStreams() = default;
  virtual bool InputIsTerminal() = 0;
  // Waits for input and takes what there is, up to dest.size() bytes; 0 when input has ended
  // or the run was asked to end.
  virtual std::size_t ReadInput(std::span<char> dest) = 0;
  // One key from the terminal, without echo; -1 when input has ended or the run was asked to end.
  virtual int ReadTerminalKey() = 0;
  // False when the output has gone.
  virtual bool WriteOutput(std::string_view bytes) = 0;
  virtual bool Pause(std::uint32_t milliseconds) = 0;
  // Whether the run was asked to end; and telling that the output has gone, which asks for it.
  virtual bool EndRequested() = 0;
  virtual void OutputLost() = 0;
};

// The console over byte streams: lines and, without a terminal, keys come from one input
// buffer, so nothing typed or piped ahead is lost; output is kept until the tool is about to
// wait (for input, in a pause, or when asked to before an exchange) and then written in one
// piece.
class StreamConsole final : public ConsoleIo {
 public:
  explicit StreamConsole(ConsoleStreams& streams) : streams_(streams) {}

  Line ReadLine(std::string& line) override;
  int ReadKey() override;
  void Write(std::string_view text) override;
  bool Pause(std::uint32_t milliseconds) override;
  void Flush() override;

 private:
  std::string_view Pending() const { return {in_.data() + inBegin_, inEnd_ - inBegin_}; }
  bool Terminal();
  bool Fill();
  void Emit(std::string_view bytes);

  ConsoleStreams& streams_;
  std::array<char, 4096> in_{};
  std::size_t inBegin_ = 0;
  std::size_t inEnd_ = 0;
  bool inputEnded_ = false;
  std::optional<bool> terminal_;
  std::array<char, 16384> out_{};
  std::size_t outSize_ = 0;
  bool outputLost_ = false;
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

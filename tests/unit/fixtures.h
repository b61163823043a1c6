// Test doubles: a scripted console and an interface object whose link is a function of the request.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "console/io.h"
#include "extcmd/frame.h"
#include "extcmd/zanto_extcmd_if.h"

namespace testing_support {

// Whether these tests run as a Windows program (under Wine in CI), where a few file-system cases
// cannot be made and are skipped with the reason.
#ifdef _WIN32
inline constexpr bool kOnWindows = true;
#else
inline constexpr bool kOnWindows = false;
#endif

using Bytes = std::vector<std::uint8_t>;

// Console input comes from one script, read as standard input would be: ReadLine takes up to
// the next "\n", ReadKey one character. Output is collected; pauses are recorded, not slept.
class ScriptedConsole final : public console::ConsoleIo {
 public:
  explicit ScriptedConsole(std::string input = {}) : input_(std::move(input)), io_(*this) {}

  Line ReadLine(std::string& line) override;
  int ReadKey() override;
  void Write(std::string_view text) override { output.append(text); }
  bool Pause(std::uint32_t milliseconds) override {
    pauses.push_back(milliseconds);
    pauseAt.push_back(output.size());
    return true;
  }

  std::string output;
  std::vector<std::uint32_t> pauses;
  std::vector<std::size_t> pauseAt;  // output length when each pause began
  std::size_t Unread() const { return input_.size() - pos_; }

 private:
  std::string input_;
  std::size_t pos_ = 0;
  console::ScopedIo io_;
};

// Byte streams under a console::StreamConsole: input handed out in the chunks given (as a pipe
// or a terminal delivers it), every write and wait recorded in order, and a request to end or
// a lost output on demand.
class ScriptedStreams final : public console::ConsoleStreams {
 public:
  explicit ScriptedStreams(std::vector<std::string> chunks, bool terminal = false)
      : chunks_(std::move(chunks)), terminal_(terminal) {}

  bool InputIsTerminal() override {
    ++terminalChecks;
    return terminal_;
  }
  std::size_t ReadInput(std::span<char> dest) override;
  int ReadTerminalKey() override;
  bool WriteOutput(std::string_view bytes) override;
  bool Pause(std::uint32_t milliseconds) override;
  bool EndRequested() override { return endRequested; }
  void OutputLost() override { ++outputLostNotes; }

  std::vector<std::string> writes;  // each write, as one piece
  std::vector<std::string> events;  // "write", "read", "key", "pause" in order, and a test's own
  bool outputGone = false;          // from now on every write fails
  bool endRequested = false;
  bool endWhenInputRunsOut = false;  // the run is asked to end once the chunks are used up
  int outputLostNotes = 0;
  int terminalChecks = 0;  // how often the console asked whether input is a terminal

 private:
  std::size_t Take(std::span<char> dest);
  std::vector<std::string> chunks_;
  std::size_t next_ = 0;
  std::size_t offset_ = 0;
  bool terminal_;
};

// An answer frame (no link wrapping) with the given code and data.
Bytes AnswerFrame(std::uint16_t code, std::span<const std::uint8_t> data);
// An answer frame whose data is `size` bytes, zero but for the given leading bytes.
Bytes AnswerFrame(std::uint16_t code, std::initializer_list<std::uint8_t> leading,
                  std::size_t size);

// An interface object whose link is simulated: every request frame is recorded, and `respond`
// turns it into the answer frame (std::nullopt: no answer, which fails like a time-out).
// Over UDP the answer lands at buffer offset 2, over serial at 0 with its checksum behind it.
class FakeLink : public C_ZANTO_EXTCMD_IF {
 public:
  explicit FakeLink(int link = CONNECT_ETHER, int timeoutMs = 5000);

  std::function<std::optional<Bytes>(const Bytes& request)> respond;
  std::vector<Bytes> requests;      // request frames as sent (frame start to last data byte)
  std::vector<int> timeoutsAtSend;  // m_nTimeout when each request went out

  int EtherSend() override { return Send(); }
  int EtherRecv() override { return Receive(frame::kDatagramLead, ERR_ETHER_RECV); }
  int SerialSend() override { return Send(); }
  int SerialRecv() override { return Receive(0, ERR_SERIAL_TIMEOUT); }

  std::uint8_t* Buffer() { return m_Buffer; }

 private:
  int Send();
  int Receive(std::size_t offset, int timeoutCode);
  std::optional<Bytes> pending_;
};

// Answers every request with the same frame.
inline std::function<std::optional<Bytes>(const Bytes&)> Always(Bytes answer) {
  return [answer](const Bytes&) { return std::optional<Bytes>(answer); };
}

}  // namespace testing_support

// The tools' console over byte streams, and the system's standard streams under it.
#include "console/io.h"

#include <algorithm>
#include <cstring>

#include "platform/console_io.h"
#include "platform/termination.h"
#include "platform/wait.h"

namespace console {

ConsoleIo::Line StreamConsole::ReadLine(std::string& line) {
  line.clear();
  bool tooLong = false;
  for (;;) {
    const std::string_view pending = Pending();
    const std::size_t end = pending.find('\n');
    const std::string_view piece = pending.substr(0, end);
    // Hold at most one character more than a line may have, so an overlong line shows.
    const std::size_t room = kMaxLine + 1 - std::min(line.size(), kMaxLine + 1);
    line.append(piece.substr(0, room));
    tooLong = tooLong || piece.size() > room;
    if (end != std::string_view::npos) {
      inBegin_ += end + 1;
      break;
    }
    inBegin_ = inEnd_;
    if (!Fill()) {
      // Input ended: a last line without its line end still counts.
      if (streams_.EndRequested() || (line.empty() && !tooLong)) return Line::Ended;
      break;
    }
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return tooLong || line.size() > kMaxLine ? Line::TooLong : Line::Ok;
}

int StreamConsole::ReadKey() {
  if (inBegin_ == inEnd_ && Terminal()) {
    // A line read takes one line from the terminal, so nothing typed waits in the buffer: the
    // key comes from the terminal itself, without echo.
    Flush();
    if (inputEnded_) return -1;
    return streams_.ReadTerminalKey();
  }
  if (inBegin_ == inEnd_ && !Fill()) return -1;
  return static_cast<unsigned char>(in_[inBegin_++]);
}

void StreamConsole::Write(std::string_view text) {
  if (text.size() > out_.size() - outSize_) Flush();
  if (text.size() > out_.size()) {
    Emit(text);
    return;
  }
  std::memcpy(out_.data() + outSize_, text.data(), text.size());
  outSize_ += text.size();
}

bool StreamConsole::Pause(std::uint32_t milliseconds) {
  Flush();
  return streams_.Pause(milliseconds);
}

void StreamConsole::Flush() {
  Emit({out_.data(), outSize_});
  outSize_ = 0;
}

// Whether input is a terminal, asked once.
bool StreamConsole::Terminal() {
  if (!terminal_) terminal_ = streams_.InputIsTerminal();
  return *terminal_;
}

// Shows what was written, then waits for more input (the buffer is empty); false once input has
// ended (for good: a terminal's end of input is not taken back) or the run was asked to end.
bool StreamConsole::Fill() {
  Flush();
  if (inputEnded_) return false;
  inBegin_ = inEnd_ = 0;
  inEnd_ = streams_.ReadInput(in_);
  inputEnded_ = inEnd_ == 0;
  return !inputEnded_;
}

// Output that cannot be written any more ends the run as a request to end would.
void StreamConsole::Emit(std::string_view bytes) {
  if (bytes.empty() || outputLost_) return;
  if (!streams_.WriteOutput(bytes)) {
    outputLost_ = true;
    streams_.OutputLost();
  }
}

namespace {

// Standard input and output of this process, through the platform seam.
class SystemStreams final : public ConsoleStreams {
 public:
  bool InputIsTerminal() override { return plat::StdinIsTerminal(); }
  std::size_t ReadInput(std::span<char> dest) override { return plat::ReadInput(dest); }
  int ReadTerminalKey() override { return plat::ReadTerminalKey(); }
  bool WriteOutput(std::string_view bytes) override { return plat::WriteOutput(bytes); }
  bool Pause(std::uint32_t milliseconds) override {
    return plat::Pause(milliseconds) != plat::WaitResult::Terminated;
  }
  bool EndRequested() override { return plat::TerminationRequested(); }
  void OutputLost() override { plat::NoteOutputLost(); }
};

SystemStreams g_streams;
StreamConsole g_system(g_streams);
ConsoleIo* g_current = &g_system;

}  // namespace

ConsoleIo& Io() { return *g_current; }

ScopedIo::ScopedIo(ConsoleIo& io) : previous_(g_current) { g_current = &io; }
ScopedIo::~ScopedIo() { g_current = previous_; }

}  // namespace console

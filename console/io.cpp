// Standard input and output as the tools' console: input read through one buffer (lines and,
// without a terminal, keys alike), output kept until the tool is about to wait and then written
// in one piece.
#include "console/io.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "platform/console_io.h"
#include "platform/termination.h"
#include "platform/wait.h"

namespace console {
namespace {

class SystemConsole final : public ConsoleIo {
 public:
  Line ReadLine(std::string& line) override {
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
        if (plat::TerminationRequested() || (line.empty() && !tooLong)) return Line::Ended;
        break;
      }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return tooLong || line.size() > kMaxLine ? Line::TooLong : Line::Ok;
  }

  int ReadKey() override {
    if (inBegin_ == inEnd_ && Terminal()) {
      // A line read takes one line from the terminal, so nothing typed waits in the buffer: the
      // key comes from the terminal itself, without echo.
      Flush();
      return plat::ReadTerminalKey();
    }
    if (inBegin_ == inEnd_ && !Fill()) return -1;
    return static_cast<unsigned char>(in_[inBegin_++]);
  }

  void Write(std::string_view text) override {
    if (text.size() > out_.size() - outSize_) Flush();
    if (text.size() > out_.size()) {
      Emit(text);
      return;
    }
    std::memcpy(out_.data() + outSize_, text.data(), text.size());
    outSize_ += text.size();
  }

  bool Pause(std::uint32_t milliseconds) override {
    Flush();
    return plat::Pause(milliseconds) != plat::WaitResult::Terminated;
  }

  void Flush() override {
    Emit({out_.data(), outSize_});
    outSize_ = 0;
  }

 private:
  std::string_view Pending() const { return {in_.data() + inBegin_, inEnd_ - inBegin_}; }

  // Whether standard input is a terminal, asked once.
  bool Terminal() {
    if (!terminal_) terminal_ = plat::StdinIsTerminal();
    return *terminal_;
  }

  // Shows what was written, then waits for more input; false once input has ended (for good:
  // a terminal's end of input is not taken back) or the run was asked to end.
  bool Fill() {
    Flush();
    if (inputEnded_) return false;
    if (inBegin_ == inEnd_) inBegin_ = inEnd_ = 0;
    const std::size_t got = plat::ReadInput({in_.data() + inEnd_, in_.size() - inEnd_});
    inEnd_ += got;
    inputEnded_ = got == 0;
    return !inputEnded_;
  }

  // Output that cannot be written any more ends the run as a request to end would.
  void Emit(std::string_view bytes) {
    if (bytes.empty() || outputLost_) return;
    if (!plat::WriteOutput(bytes)) {
      outputLost_ = true;
      plat::NoteOutputLost();
    }
  }

  std::array<char, 4096> in_{};
  std::size_t inBegin_ = 0;
  std::size_t inEnd_ = 0;
  bool inputEnded_ = false;
  std::optional<bool> terminal_;
  std::array<char, 16384> out_{};
  std::size_t outSize_ = 0;
  bool outputLost_ = false;
};

SystemConsole g_system;
ConsoleIo* g_current = &g_system;

}  // namespace

ConsoleIo& Io() { return *g_current; }

ScopedIo::ScopedIo(ConsoleIo& io) : previous_(g_current) { g_current = &io; }
ScopedIo::~ScopedIo() { g_current = previous_; }

}  // namespace console

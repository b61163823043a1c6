// Pseudo-terminal driver on the toolkit: a console's terminal modes, keys typed only when asked for.
#include "tests/e2e/pty_driver.h"

#include <termios.h>

#include <algorithm>

namespace e2e {
namespace {

// A console's terminal: line editing with echo, Ctrl-C and Ctrl-D, Enter read as a line feed;
// the program's output goes through untranslated.
termios ConsoleTermios() {
  termios t{};
  t.c_iflag = ICRNL | IUTF8;
  t.c_oflag = 0;
  t.c_cflag = CS8 | CREAD | CLOCAL;
  t.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
  t.c_cc[VINTR] = 0x03;
  t.c_cc[VQUIT] = 0x1C;
  t.c_cc[VERASE] = 0x7F;
  t.c_cc[VKILL] = 0x15;
  t.c_cc[VEOF] = 0x04;
  t.c_cc[VSUSP] = 0x1A;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  return t;
}

}  // namespace

PtyProcess::PtyProcess(const Options& options) : outputPipe_(options.outputPipe) {
  toolkit::PipeEnds output;
  if (outputPipe_) output = toolkit::MakePipe();
  auto [child, master] = toolkit::Child::OnTerminal(options, ConsoleTermios(), output.write.get());
  child_ = std::move(child);
  terminal_ = toolkit::Inbound(std::move(master));
  pipe_ = toolkit::Inbound(std::move(output.read));
}

std::optional<std::string> PtyProcess::ReadUntil(std::string_view text,
                                                 std::chrono::milliseconds wait) {
  return ReadUntilAny({text}, wait);
}

std::optional<std::string> PtyProcess::ReadUntilAny(std::initializer_list<std::string_view> texts,
                                                    std::chrono::milliseconds wait) {
  return toolkit::ReadUntilAny(Primary(), std::span(texts.begin(), texts.size()),
                               Clock::now() + wait, streams_);
}

void PtyProcess::Write(std::string_view bytes) {
  // Reads meanwhile, so that a long echo can never block the terminal.
  toolkit::WriteAll(terminal_.Fd(), bytes, Clock::now() + kDefaultWait, streams_);
}

void PtyProcess::SendLine(std::string_view line) {
  std::string bytes(line);
  bytes.push_back('\r');
  Write(bytes);
}

bool PtyProcess::WaitForKeyMode(std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    termios t{};
    if (tcgetattr(terminal_.Fd(), &t) == 0 && (t.c_lflag & ICANON) == 0) return true;
    // A terminal whose other side has gone will never ask for a key.
    if (Clock::now() >= deadline || !terminal_.Readable()) return false;
    // No descriptor tells of a change of the terminal's modes: they are asked again after a
    // short wait for output (which goes on being read).
    toolkit::Pump(streams_, nullptr, std::min(deadline, Clock::now() + 5ms));
  }
}

bool PtyProcess::InLineMode() const {
  termios t{};
  return tcgetattr(terminal_.Fd(), &t) == 0 && (t.c_lflag & ICANON) != 0 && (t.c_lflag & ECHO) != 0;
}

termios PtyProcess::Modes() const {
  termios t{};
  tcgetattr(terminal_.Fd(), &t);
  return t;
}

bool PtyProcess::SendKey(char key, std::chrono::milliseconds wait) {
  if (!WaitForKeyMode(wait)) return false;
  Write(std::string_view(&key, 1));
  return true;
}

void PtyProcess::SendEof() { Write("\x04"); }

std::optional<int> PtyProcess::WaitExit(std::chrono::milliseconds wait) {
  const auto status = toolkit::WaitExit(child_, streams_, Clock::now() + wait);
  if (!status) return std::nullopt;
  // What it wrote last may still be on its way through the terminal: take it in until the
  // terminal reports its other side closed (or, should another process still hold it, briefly).
  const auto drained = Clock::now() + 500ms;
  while (Primary().Readable() && Clock::now() < drained) toolkit::Pump(streams_, nullptr, drained);
  return status;
}

}  // namespace e2e

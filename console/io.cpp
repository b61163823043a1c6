// Standard input and output as the tools' console.
#include "console/io.h"

#include <cerrno>
#include <cstdio>

#include "platform/clock.h"
#include "platform/signals.h"
#include "platform/terminal.h"

namespace console {
namespace {

// The next character of standard input; EOF at its end and when termination was requested.
int NextChar() {
  for (;;) {
    const int c = std::getc(stdin);
    if (c != EOF || !std::ferror(stdin) || errno != EINTR) return c;
    std::clearerr(stdin);
    if (plat::TerminationRequested()) return EOF;
    // Any other signal that interrupted the read: go on reading.
  }
}

class StdioConsole final : public ConsoleIo {
 public:
  Line ReadLine(std::string& line) override {
    line.clear();
    bool tooLong = false;
    int c;
    while ((c = NextChar()) != EOF && c != '\n') {
      if (line.size() <= kMaxLine) {
        line.push_back(static_cast<char>(c));
      } else {
        tooLong = true;  // keep consuming the line, but hold no more of it
      }
    }
    if (plat::TerminationRequested()) return Line::Ended;
    if (c == EOF && line.empty() && !tooLong) return Line::Ended;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return tooLong || line.size() > kMaxLine ? Line::TooLong : Line::Ok;
  }

  int ReadKey() override { return plat::ReadKey(); }

  void Write(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  void Pause(std::uint32_t milliseconds) override { plat::SleepMs(milliseconds); }
};

StdioConsole g_stdio;
ConsoleIo* g_current = &g_stdio;

}  // namespace

ConsoleIo& Io() { return *g_current; }

ScopedIo::ScopedIo(ConsoleIo& io) : previous_(g_current) { g_current = &io; }
ScopedIo::~ScopedIo() { g_current = previous_; }

}  // namespace console

// Prompts, key wait and the failure report forms.
#include "console/console.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/io.h"
#include "extcmd/commands.h"
#include "extcmd/zanto_extcmd_if.h"
#include "platform/termination.h"

namespace {

// Reads one line; only a line that fits the line buffer is handed back.
bool ReadAnswer(const char* message, std::string& line) {
  console::ConsoleIo& io = console::Io();
  io.Write(message);
  switch (io.ReadLine(line)) {
    case console::ConsoleIo::Line::Ok:
      return true;
    case console::ConsoleIo::Line::TooLong:
      return false;
    case console::ConsoleIo::Line::Ended:
      break;
  }
  throw console::InputEnded{};
}

void PrintFailureCode(int code) {
  Print("\n Failure:%d\n\n Press any key", code);
  WaitKey();
}

void RejectAnswer() { console::Io().Write("\n Invalid value !!\n\n"); }

// Decimal value of a line of digits, saturated at INT_MAX; false when any character is no digit.
bool ParseDigits(const std::string& line, long long& value) {
  if (line.empty()) return false;
  value = 0;
  for (const char c : line) {
    if (c < '0' || c > '9') return false;
    if (value < INT_MAX) value = value * 10 + (c - '0');
  }
  if (value > INT_MAX) value = INT_MAX;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

void Print(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(needed) < sizeof small) {
    console::Io().Write({small, static_cast<std::size_t>(needed)});
  } else {
    std::string big(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, again);
    big.pop_back();
    console::Io().Write(big);
  }
  va_end(again);
}

int PromptNumber(const char* message, int min, int max) {
  std::string line;
  for (;;) {
    long long value = 0;
    if (ReadAnswer(message, line) && ParseDigits(line, value) && value >= min && value <= max) {
      return static_cast<int>(value);
    }
    RejectAnswer();
  }
}

int PromptText(char* out, int maxLength, const char* message, int mode) {
  std::string line;
  for (;;) {
    if (ReadAnswer(message, line)) {
      const auto length = static_cast<int>(std::strlen(line.c_str()));
      const bool fits = mode == 0 ? length == maxLength : length >= 1 && length <= maxLength;
      if (fits) {
        std::memcpy(out, line.c_str(), static_cast<std::size_t>(length) + 1);
        return 1;
      }
    }
    RejectAnswer();
  }
}

void WaitKey() {
  if (console::Io().ReadKey() < 0) throw console::InputEnded{};
}

void HexToBytes(const char* text, int count, std::uint8_t* out) {
  for (int i = 0; i < count; ++i) {
    const int value = HexDigit(text[i]);
    if (i % 2 == 0) {
      out[i / 2] = static_cast<std::uint8_t>(value << 4);
    } else {
      out[i / 2] = static_cast<std::uint8_t>(out[i / 2] | value);
    }
  }
}

void PrintErrorCode(C_ZANTO_EXTCMD_IF& extcmd) { PrintFailureCode(extcmd.GetErrorCode()); }

void PrintResultFailure(std::uint8_t result) {
  Print("\n Failure:%d\n Result:%u\n\n Press any key", static_cast<int>(ERR_RESULT),
        static_cast<unsigned>(result));
  WaitKey();
}

void Pause(std::uint32_t milliseconds) {
  if (!console::Io().Pause(milliseconds)) throw console::InputEnded{};
}

void BeforeExchange() {
  console::Io().Flush();
  if (plat::TerminationRequested()) throw console::InputEnded{};
}

int ReportFailure(const commands::Failure& failure) {
  if (plat::TerminationRequested()) throw console::InputEnded{};
  if (failure.Refused()) {
    PrintResultFailure(failure.result);
  } else {
    PrintFailureCode(failure.code);
  }
  return 0;
}

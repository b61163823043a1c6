// Standard input and output on Windows. A console line is read with the console's own line
// editing (echo, correction, history); a key with _getch once one waits; a pipe or a file by a
// reader thread. Every wait ends on a request to end. Output lines end in CR LF.
#include "platform/console_io.h"

#include <conio.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "platform/termination.h"
#include "platform/win32/handle.h"
#include "platform/win32/wait_handle.h"

namespace plat {
namespace {

constexpr char kCtrlZ = 0x1A;
// Longest piece handed to WriteFile at once (older consoles refuse very long writes).
constexpr std::size_t kWriteChunk = 16384;

HANDLE Input() { return GetStdHandle(STD_INPUT_HANDLE); }

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return GetConsoleMode(h, &mode) != 0;
}

// Whether the console's next read starts a line: a line typed as Ctrl-Z ends input there.
bool g_atLineStart = true;

std::size_t ReadConsoleLine(HANDLE in, std::span<char> dest) {
  // The wait for the first key is the one wait; the console's line editing then takes the rest
  // of the line in ReadFile, which a request to end cancels.
  if (win32::WaitHandle(in, kWaitForever) != WaitResult::Ready) return 0;
  DWORD got = 0;
  {
    const win32::BlockingCall call;
    if (TerminationRequested()) return 0;
    if (!ReadFile(in, dest.data(), static_cast<DWORD>(dest.size()), &got, nullptr)) return 0;
  }
  if (TerminationRequested()) return 0;
  if (got > 0 && g_atLineStart && dest[0] == kCtrlZ) return 0;  // the console's end of input
  if (got > 0) g_atLineStart = dest[got - 1] == '\n';
  return got;
}

// One blocking ReadFile of standard input; 0 bytes when input has ended (the pipe is broken: its
// writer has gone and nothing is left; or the end of a file) or cannot be read.
DWORD ReadOnce(HANDLE in, std::span<char> dest) {
  DWORD got = 0;
  // A message longer than the read is a message pipe's way of handing over its first part.
  if (!ReadFile(in, dest.data(), static_cast<DWORD>(dest.size()), &got, nullptr) &&
      GetLastError() != ERROR_MORE_DATA) {
    return 0;
  }
  return got;
}

// Standard input that is no console: a pipe (under Wine also a Unix pipe, which the pipe
// functions other than ReadFile do not know) or a file. A thread of its own reads it with one
// blocking ReadFile at a time, so that the console thread waits for the bytes as for everything
// else, on an event, which a request to end cuts short at once: a blocking read itself cannot be
// relied on to give way (Wine does not cancel one on a Unix pipe).
class StreamReader {
 public:
  std::size_t Read(HANDLE in, std::span<char> dest) {
    if (!started_) Start(in);
    if (!slot_) {  // no thread: read here
      const win32::BlockingCall call;
      return TerminationRequested() ? 0 : ReadOnce(in, dest);
    }
    if (!pending_ && taken_ == slot_->got) {
      SetEvent(slot_->wanted.get());
      pending_ = true;
    }
    if (pending_) {
      // On a request to end the read stays with the reader, into its own buffer.
      if (win32::WaitHandle(slot_->done.get(), kWaitForever) != WaitResult::Ready) return 0;
      pending_ = false;
      taken_ = 0;
    }
    const std::size_t n = std::min<std::size_t>(dest.size(), slot_->got - taken_);
    std::copy_n(slot_->bytes.begin() + taken_, n, dest.begin());
    taken_ += static_cast<DWORD>(n);
    return n;
  }

 private:
  // What the reader and the console thread share; the events order their turns.
  struct Slot {
    HANDLE input;
    win32::UniqueHandle wanted{CreateEventA(nullptr, FALSE, FALSE, nullptr)};  // read once more
    win32::UniqueHandle done{CreateEventA(nullptr, FALSE, FALSE, nullptr)};    // bytes are there
    std::array<char, 4096> bytes{};
    DWORD got = 0;  // 0: input has ended
  };

  // The reader waits for nothing but the next request and its read: the process ends it. It
  // keeps the slot alive for a read still under way when the console thread is gone.
  static void Run(const std::shared_ptr<Slot>& slot) {
    while (WaitForSingleObject(slot->wanted.get(), INFINITE) == WAIT_OBJECT_0) {
      slot->got = ReadOnce(slot->input, slot->bytes);
      SetEvent(slot->done.get());
    }
  }

  void Start(HANDLE in) {
    started_ = true;
    auto slot = std::make_shared<Slot>();
    slot->input = in;
    if (!slot->wanted || !slot->done) return;
    try {
      std::thread(Run, slot).detach();
      slot_ = std::move(slot);
    } catch (const std::system_error&) {
      // No thread to be had: the console thread reads itself.
    }
  }

  bool started_ = false;
  std::shared_ptr<Slot> slot_;
  bool pending_ = false;  // a read was asked for and has not been taken
  DWORD taken_ = 0;       // of the slot's bytes
};

// The key the console has waiting: a character key is left for _getch; another key (an arrow, a
// function key) is taken here and counts as a key press; anything else (key releases, the mouse,
// focus) is dropped. Nothing when no key waits.
enum class Waiting { Nothing, Character, OtherKey };

bool IsModifier(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
      return true;
    default:
      return false;
  }
}

Waiting TakeToKey(HANDLE in) {
  std::array<INPUT_RECORD, 64> records;
  DWORD count = 0;
  if (!PeekConsoleInputA(in, records.data(), static_cast<DWORD>(records.size()), &count)) {
    return Waiting::Nothing;
  }
  DWORD drop = count;
  Waiting found = Waiting::Nothing;
  for (DWORD i = 0; i < count; ++i) {
    const INPUT_RECORD& r = records[i];
    if (r.EventType != KEY_EVENT || !r.Event.KeyEvent.bKeyDown) continue;
    if (r.Event.KeyEvent.uChar.AsciiChar != 0) {
      found = Waiting::Character;
      drop = i;
      break;
    }
    if (!IsModifier(r.Event.KeyEvent.wVirtualKeyCode)) {
      found = Waiting::OtherKey;
      drop = i + 1;
      break;
    }
  }
  if (drop > 0) ReadConsoleInputA(in, records.data(), drop, &count);
  return found;
}

}  // namespace

bool StdinIsTerminal() { return IsConsole(Input()); }

std::size_t ReadInput(std::span<char> dest) {
  const HANDLE in = Input();
  if (IsConsole(in)) return ReadConsoleLine(in, dest);
  static StreamReader reader;
  return reader.Read(in, dest);
}

int ReadTerminalKey() {
  const HANDLE in = Input();
  for (;;) {
    if (win32::WaitHandle(in, kWaitForever) != WaitResult::Ready) return -1;
    switch (TakeToKey(in)) {
      case Waiting::Character:
        // The key is there, so _getch takes it at once (without echo, in the console's raw
        // mode, which it puts back itself).
        return _getch() & 0xFF;
      case Waiting::OtherKey:
        return 0;
      case Waiting::Nothing:
        if (!IsConsole(in)) return -1;
        break;
    }
  }
}

namespace {

bool WriteAll(HANDLE out, std::string_view bytes) {
  // Text on Windows ends its lines in CR LF, on the console and in a file alike.
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 8);
  for (const char c : bytes) {
    if (c == '\n') text.push_back('\r');
    text.push_back(c);
  }
  std::string_view rest = text;
  while (!rest.empty()) {
    DWORD put = 0;
    const win32::BlockingCall call;  // a full pipe, a console held by a selection
    if (TerminationRequested()) return true;
    const auto size = static_cast<DWORD>(std::min(rest.size(), kWriteChunk));
    if (!WriteFile(out, rest.data(), size, &put, nullptr) || put == 0) {
      return TerminationRequested();  // cancelled for a request to end, or the output has gone
    }
    rest.remove_prefix(put);
  }
  return true;
}

}  // namespace

bool WriteOutput(std::string_view bytes) {
  return WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), bytes);
}
bool WriteErrorOutput(std::string_view bytes) {
  return WriteAll(GetStdHandle(STD_ERROR_HANDLE), bytes);
}
bool StderrIsTerminal() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }

}  // namespace plat

// Windows serial ports behind the serial link's seam: an exclusive overlapped handle, the line
// settings in a DCB with the event character, the event wait (WaitCommEvent) looked at without
// blocking, the queue count, and overlapped reads and single-byte writes, each with its own event;
// and a wait for the event character that reads the bytes as they arrive.
#include "platform/serial.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "platform/clock.h"
#include "platform/win32/wait_handle.h"

namespace plat {

struct SerialPort {
  SerialPort(HANDLE h, std::optional<DCB> original) : handle(h), saved(original) {}
  ~SerialPort() {
    EndEventWait();
    if (savedTimeouts) SetCommTimeouts(handle, &*savedTimeouts);
    if (saved) SetCommState(handle, &*saved);
    CloseHandle(handle);
  }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // An event wait still outstanding (a receive ended by its time-out leaves one) is cancelled
  // and waited for, so it never completes into a record or mask that is in use or gone.
  void EndEventWait() {
    if (!waiting) return;
    CancelIoEx(handle, &waitRecord);
    DWORD ignored = 0;
    GetOverlappedResult(handle, &waitRecord, &ignored, TRUE);
    waiting = false;
  }

  // Reads bytes waiting in the system's queue into dest, with the given event for the
  // completion; they are there, so the read completes at once, but it is waited for all the
  // same, since the record and the block must outlive it. How many it read.
  DWORD ReadWaiting(HANDLE event, std::span<std::uint8_t> dest) {
    ResetEvent(event);
    OVERLAPPED record{};
    record.hEvent = event;
    DWORD got = 0;
    if (!ReadFile(handle, dest.data(), static_cast<DWORD>(dest.size()), &got, &record)) {
      if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(handle, &record, &got, TRUE)) {
        got = 0;
      }
    }
    ResetEvent(event);
    return got;
  }

  // Moves the bytes waiting in the system's queue into the port's own; false when the port
  // fails.
  bool Drain(HANDLE event) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) return false;
    const std::size_t n = std::min<std::size_t>(status.cbInQue, kQueueLimit - queue.size());
    if (n == 0) return true;
    const std::size_t at = queue.size();
    queue.resize(at + n);
    queue.resize(at + ReadWaiting(event, std::span(queue).subspan(at)));
    return true;
  }

  // Whether the event character is among the bytes of the port's own queue that came since
  // arming; a report is given once.
  bool TakeEvent() {
    const auto from = queue.begin() + static_cast<std::ptrdiff_t>(watchFrom);
    if (std::find(from, queue.end(), eventChar) == queue.end()) return false;
    watchFrom = queue.size();
    return true;
  }

  // Reads the next byte that arrives into the queue, waiting at most timeoutMs for it; Ready
  // with the byte, TimedOut or Terminated without it. nullopt when the port brought no byte
  // although the read ended: it failed, or completes without data, so that only the time can
  // end a wait on it.
  std::optional<WaitResult> ReadNextByte(HANDLE event, std::int32_t timeoutMs) {
    // Read time-outs of 0: a read waits until its byte has come, however long (the wait
    // beside it sets the limit). The port's own come back at close.
    if (!savedTimeouts) {
      COMMTIMEOUTS t{};
      if (!GetCommTimeouts(handle, &t)) return std::nullopt;
      savedTimeouts = t;
      t.ReadIntervalTimeout = 0;
      t.ReadTotalTimeoutMultiplier = 0;
      t.ReadTotalTimeoutConstant = 0;
      SetCommTimeouts(handle, &t);
    }
    ResetEvent(event);
    OVERLAPPED record{};
    record.hEvent = event;
    std::uint8_t byte = 0;
    DWORD got = 0;
    WaitResult result = WaitResult::Ready;
    if (!ReadFile(handle, &byte, 1, &got, &record)) {
      if (GetLastError() != ERROR_IO_PENDING) return std::nullopt;
      result = win32::WaitHandle(event, timeoutMs);
      // Not come in time, or the run ends: the read is cancelled and waited for, so it never
      // completes into the byte or the record once this call has returned. A byte that came
      // meanwhile is kept.
      if (result != WaitResult::Ready) CancelIoEx(handle, &record);
      if (!GetOverlappedResult(handle, &record, &got, TRUE)) got = 0;
    }
    ResetEvent(event);
    if (got == 1) queue.push_back(byte);
    if (result == WaitResult::Ready && got != 1) return std::nullopt;
    return result;
  }

  // Beyond this many unread bytes of its own the port takes nothing more from the system.
  static constexpr std::size_t kQueueLimit = 64 * 1024;

  HANDLE handle;
  std::optional<DCB> saved;
  std::optional<COMMTIMEOUTS> savedTimeouts;  // set once WaitForSerialEvent set its own
  // Bytes taken from the system's queue, not yet read (WaitForSerialEvent looks at each byte
  // as it arrives; the system can only report the event character, which Wine never does on a
  // pseudo-terminal). They come first in every count and read.
  std::vector<std::uint8_t> queue;
  std::size_t watchFrom = 0;  // queue position from which an event character counts
  std::uint8_t eventChar = 0;
  // The event wait outstanding between two looks. Its record and the mask it reports into live
  // with the port, not in a call; its event is that of the read record.
  OVERLAPPED waitRecord{};
  DWORD waitMask = 0;
  bool waiting = false;
  bool armed = false;
};

namespace {

HANDLE EventOf(const Overlapped& record) { return static_cast<HANDLE>(record.event); }

// Whether the completed event wait reported the event character; the read record's event then
// stays signalled, as the completion left it.
bool Reported(SerialHandle port) {
  return (port->waitMask & EV_RXFLAG) != 0;  // else another completion: ask anew
}

}  // namespace

std::string SerialDevicePath(std::string_view portName) {
  // A plain name ("COM1", "COM10") is a device in the device namespace; the prefix is what lets
  // "COM10" and above open. A name that holds a backslash is taken as it is.
  if (portName.find('\\') != std::string_view::npos) return std::string(portName);
  return "\\\\.\\" + std::string(portName);
}

SerialHandle OpenSerialPort(const char* portName) {
  const std::string path = SerialDevicePath(portName);
  // No sharing: a port another program has open is refused.
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kInvalidSerial;
  DCB original{};
  original.DCBlength = sizeof original;
  const bool isPort = GetCommState(h, &original) != 0;
  auto port = std::make_unique<SerialPort>(h, isPort ? std::optional(original) : std::nullopt);
  return port.release();  // owned through the handle until CloseSerialPort
}

void CloseSerialPort(SerialHandle port) { std::unique_ptr<SerialPort> owned(port); }

void ConfigureSerialPort(SerialHandle port, const SerialLineSettings& settings) {
  if (port == kInvalidSerial) return;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port->handle, &dcb)) return;
  port->eventChar = settings.eventChar;
  // Any rate the driver takes. 0 is no rate: the port keeps its speed, and takes the rest.
  if (settings.baud != 0) dcb.BaudRate = settings.baud;
  dcb.ByteSize = settings.byteSize;
  dcb.Parity = settings.parity;
  dcb.StopBits = settings.stopBits;
  dcb.fParity = TRUE;
  dcb.EvtChar = static_cast<char>(settings.eventChar);
  // Byte-transparent: no software flow control, no bytes dropped or replaced. Handshake lines,
  // the other characters, time-outs and queue sizes stay as the port had them.
  dcb.fBinary = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fErrorChar = FALSE;
  // The system refuses the whole set when one value is outside its coding; the port then keeps
  // its settings, as the link expects of a port that refuses them.
  SetCommState(port->handle, &dcb);
}

void OpenCompletion(Overlapped& record) {
  CloseCompletion(record);
  record.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void CloseCompletion(Overlapped& record) {
  if (record.event != nullptr) CloseHandle(EventOf(record));
  record = Overlapped{};
}

void ArmSerialEvent(SerialHandle port) {
  if (port == kInvalidSerial) return;
  port->EndEventWait();
  // Setting the mask also forgets event characters that came before: only new ones count.
  SetCommMask(port->handle, EV_RXFLAG);
  port->armed = true;
  port->watchFrom = port->queue.size();
}

bool LookForSerialEvent(SerialHandle port, Overlapped& read) {
  if (port == kInvalidSerial || !port->armed || read.event == nullptr) return false;
  if (!port->waiting) {
    // A new wait: it reports at once when the character has come since arming, else later.
    ResetEvent(EventOf(read));
    port->waitRecord = OVERLAPPED{};
    port->waitRecord.hEvent = EventOf(read);
    port->waitMask = 0;
    if (WaitCommEvent(port->handle, &port->waitMask, &port->waitRecord)) {
      return Reported(port);
    }
    if (GetLastError() != ERROR_IO_PENDING) return false;  // refused now: asked again next look
    port->waiting = true;
  }
  DWORD ignored = 0;
  if (!GetOverlappedResult(port->handle, &port->waitRecord, &ignored, FALSE)) {
    if (GetLastError() != ERROR_IO_INCOMPLETE) port->waiting = false;  // failed: ask anew
    return false;
  }
  port->waiting = false;
  return Reported(port);
}

WaitResult WaitForSerialEvent(SerialHandle port, Overlapped& read, std::int32_t timeoutMs) {
  if (port == kInvalidSerial || !port->armed || read.event == nullptr) {
    return win32::WaitHandle(nullptr, timeoutMs);
  }
  // An event wait left by LookForSerialEvent would complete into the read record's event.
  port->EndEventWait();
  const std::uint32_t start = TickCount();
  for (;;) {
    const bool open = port->Drain(EventOf(read));
    if (port->TakeEvent()) return WaitResult::Ready;
    std::int32_t left = kWaitForever;
    if (timeoutMs >= 0) {
      const std::uint32_t waited = TickCount() - start;
      if (waited >= static_cast<std::uint32_t>(timeoutMs)) return WaitResult::TimedOut;
      left = static_cast<std::int32_t>(static_cast<std::uint32_t>(timeoutMs) - waited);
    }
    // The wait is a read of the next byte: the system's event reports (WaitCommEvent) are of
    // no use here, since Wine ends every one of them at once on a pseudo-terminal.
    const auto next = open && port->queue.size() < SerialPort::kQueueLimit
                          ? port->ReadNextByte(EventOf(read), left)
                          : std::nullopt;
    if (!next) return win32::WaitHandle(nullptr, left);  // no byte can come: time alone
    if (*next != WaitResult::Ready) return *next;
  }
}

std::size_t SerialQueueCount(SerialHandle port) {
  if (port == kInvalidSerial) return 0;
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(port->handle, &errors, &status)) return port->queue.size();
  return port->queue.size() + status.cbInQue;
}

std::size_t ReadSerial(SerialHandle port, Overlapped& read, std::span<std::uint8_t> dest) {
  if (port == kInvalidSerial || read.event == nullptr || dest.empty()) return 0;
  // The port's own queue first: its bytes came before those the system still holds.
  const std::size_t own = std::min(dest.size(), port->queue.size());
  std::copy_n(port->queue.begin(), own, dest.begin());
  port->queue.erase(port->queue.begin(), port->queue.begin() + static_cast<std::ptrdiff_t>(own));
  port->watchFrom -= std::min(port->watchFrom, own);
  if (own == dest.size()) return own;
  return own + port->ReadWaiting(EventOf(read), dest.subspan(own));
}

bool WriteSerialByte(SerialHandle port, Overlapped& write, std::uint8_t byte,
                     std::int32_t timeoutMs) {
  if (port == kInvalidSerial || write.event == nullptr) return false;
  // The event character ends a request, and its answer can only come after it: what was
  // received before is older, and so no event of the receive that follows (the answer to an
  // earlier request that came too late for it).
  if (byte == port->eventChar) port->Drain(EventOf(write));
  ResetEvent(EventOf(write));
  OVERLAPPED record{};
  record.hEvent = EventOf(write);
  DWORD put = 0;
  if (!WriteFile(port->handle, &byte, 1, &put, &record)) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    if (win32::WaitHandle(EventOf(write), timeoutMs) != WaitResult::Ready) {
      // Not taken in time, or the run ends: the write is cancelled and waited for, so it never
      // completes into the byte or the record once this call has returned.
      CancelIoEx(port->handle, &record);
      GetOverlappedResult(port->handle, &record, &put, TRUE);
      return false;
    }
    if (!GetOverlappedResult(port->handle, &record, &put, FALSE)) return false;
  }
  return put == 1;
}

}  // namespace plat

// Windows serial ports behind the serial link's seam: an exclusive overlapped handle, the line
// settings in a DCB with the event character, the event wait (WaitCommEvent) looked at without
// blocking, the queue count, and overlapped reads and single-byte writes, each with its own event.
#include "platform/serial.h"

#include <windows.h>

#include <memory>
#include <optional>

#include "platform/win32/wait_handle.h"

namespace plat {

struct SerialPort {
  SerialPort(HANDLE h, std::optional<DCB> original) : handle(h), saved(original) {}
  ~SerialPort() {
    EndEventWait();
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

  HANDLE handle;
  std::optional<DCB> saved;
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
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
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
  dcb.BaudRate = settings.baud;
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

std::size_t SerialQueueCount(SerialHandle port) {
  if (port == kInvalidSerial) return 0;
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(port->handle, &errors, &status)) return 0;
  return status.cbInQue;
}

std::size_t ReadSerial(SerialHandle port, Overlapped& read, std::span<std::uint8_t> dest) {
  if (port == kInvalidSerial || read.event == nullptr || dest.empty()) return 0;
  // The bytes wait in the queue, so the read completes at once; it is waited for all the same,
  // since the record and the block must outlive it.
  ResetEvent(EventOf(read));
  OVERLAPPED record{};
  record.hEvent = EventOf(read);
  DWORD got = 0;
  if (!ReadFile(port->handle, dest.data(), static_cast<DWORD>(dest.size()), &got, &record)) {
    if (GetLastError() != ERROR_IO_PENDING ||
        !GetOverlappedResult(port->handle, &record, &got, TRUE)) {
      got = 0;
    }
  }
  ResetEvent(EventOf(read));
  return got;
}

bool WriteSerialByte(SerialHandle port, Overlapped& write, std::uint8_t byte,
                     std::int32_t timeoutMs) {
  if (port == kInvalidSerial || write.event == nullptr) return false;
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

// Serial ports, as the serial link needs them: exclusive open, line settings, the end-of-frame
// event, the receive queue and paced single-byte writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/wait.h"

namespace plat {

struct SerialPort;  // one open port; defined by each system's implementation
using SerialHandle = SerialPort*;
inline constexpr SerialHandle kInvalidSerial = nullptr;

// Completion record of one direction of serial I/O: its event is signalled once the direction's
// operation (for reads also the end-of-frame event) has completed. The POSIX ports complete
// every operation before the call returns, so there the record only carries that state; on
// Windows `event` is the record's manual-reset event (a HANDLE), made by OpenCompletion.
struct Overlapped {
  bool signalled = false;
  void* event = nullptr;
};

// Line settings in the coding the tools' configuration uses.
struct SerialLineSettings {
  std::uint32_t baud;      // any rate the port takes; 0 keeps the port's speed
  std::uint8_t byteSize;   // data bits, 5 to 8
  std::uint8_t parity;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stopBits;   // 0 one, 1 one and a half, 2 two
  std::uint8_t eventChar;  // the byte whose arrival is the end-of-frame event
};

// The device a configured port name ("PORT", e.g. "COM1") names on this system.
std::string SerialDevicePath(std::string_view portName);

// Opens the named port for reading and writing by this program alone; kInvalidSerial when it
// does not exist or is in use. The handle stays valid until CloseSerialPort.
SerialHandle OpenSerialPort(const char* portName);
// Gives the port back with the line settings it had when it was opened. Accepts kInvalidSerial.
void CloseSerialPort(SerialHandle port);

// Makes the line byte-transparent (no translation, no echo, no software flow control) with the
// given settings and parity checking on; all other settings stay as the port had them. Settings
// the port refuses are left as they were and not reported. The receive queue is kept.
void ConfigureSerialPort(SerialHandle port, const SerialLineSettings& settings);

// Clears a completion record and makes its event (not signalled), and releases it again.
void OpenCompletion(Overlapped& record);
void CloseCompletion(Overlapped& record);

// From now on the port reports the arrival of the event character; arrivals before do not count.
void ArmSerialEvent(SerialHandle port);
// Looks, without blocking, whether the event character has arrived since arming; a report is
// given once. Signals the read record's event when it reports.
bool LookForSerialEvent(SerialHandle port, Overlapped& read);
// Waits until the event character has arrived since arming (Ready, reported once, as
// LookForSerialEvent reports it), timeoutMs milliseconds have passed (TimedOut; kWaitForever: no
// limit) or a request to end comes (Terminated), whichever is first: one wait of wait.h on the
// received bytes, with no looks in between. The bytes stay in the receive queue. While the port
// is not armed, or the line can bring no more bytes, only the time or a request to end ends it.
WaitResult WaitForSerialEvent(SerialHandle port, Overlapped& read, std::int32_t timeoutMs);
// Clears the line's error state and tells how many received bytes wait in the receive queue.
std::size_t SerialQueueCount(SerialHandle port);
// Takes up to dest.size() bytes from the receive queue into dest and returns how many it took.
std::size_t ReadSerial(SerialHandle port, Overlapped& read, std::span<std::uint8_t> dest);
// Hands one byte to the port and waits until it has taken it, at most timeoutMs milliseconds;
// false when the write fails or does not complete in that time.
bool WriteSerialByte(SerialHandle port, Overlapped& write, std::uint8_t byte,
                     std::int32_t timeoutMs);

}  // namespace plat

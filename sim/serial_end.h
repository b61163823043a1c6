// The far end of a serial line, where the emulator and the tests play the adapter: either a new
// pseudo-terminal pair, whose other side a program opens by its port name like a serial port, or
// a serial device (wired to the tool's port by a null-modem cable).
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/posix/unique_fd.h"
#include "platform/serial.h"

namespace sim {

class SerialEnd {
 public:
  // A new pseudo-terminal pair with a raw line; nullptr when the system cannot make one.
  static std::unique_ptr<SerialEnd> CreatePty();
  // The named port (as in "PORT"), exclusively (a lock for programs that honour it, exclusive
  // terminal mode for those that do not), with a raw line and the given settings, which it keeps
  // until the end is destroyed and then gives the settings it found back; nullptr when it does
  // not exist or is in use.
  static std::unique_ptr<SerialEnd> OpenDevice(const char* portName,
                                               const plat::SerialLineSettings& settings);
  ~SerialEnd();
  SerialEnd(const SerialEnd&) = delete;
  SerialEnd& operator=(const SerialEnd&) = delete;

  // What to put in "PORT" to reach the tool's end of this line ("pts/N" for a pair); for a
  // device, the port name it was opened by.
  const std::string& PortName() const { return portName_; }
  // Waits up to timeoutMs for bytes from the tool and takes up to dest.size() of them; returns
  // how many (0 when none came in time).
  std::size_t Read(std::span<std::uint8_t> dest, std::int32_t timeoutMs);
  // Writes all bytes towards the tool, waiting at most timeoutMs for room; false on failure.
  bool Write(std::span<const std::uint8_t> bytes, std::int32_t timeoutMs = 5000);
  // The descriptor on this side. For a pair, terminal attribute requests on it reach the tool's
  // side of the line.
  int NativeHandle() const { return fd_.get(); }

 private:
  struct Token {};  // only the factories make line ends

 public:
  SerialEnd(Token, plat::posix::UniqueFd fd, plat::posix::UniqueFd keeper, std::string portName,
            std::optional<termios> found, std::uint32_t foundSpeed = 0);

 private:
  plat::posix::UniqueFd fd_;
  // For a pair: the tool's side held open here as well, so that the line stays up while no
  // program has the port open; nothing is ever read through it. None for a device.
  plat::posix::UniqueFd keeper_;
  std::string portName_;
  // For a device: its settings as it was found, given back when the end is destroyed.
  std::optional<termios> found_;
  std::uint32_t foundSpeed_;  // in baud, also a rate without a speed constant
};

}  // namespace sim

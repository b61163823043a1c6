// The far end of a serial line played through a pseudo-terminal pair: a program opens the other
// end by its port name, as it would open a serial port; the emulator and the tests sit here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace plat {

class SerialPty {
 public:
  // A new pair with a raw line; nullptr when the system cannot make one.
  static std::unique_ptr<SerialPty> Create();
  ~SerialPty();
  SerialPty(const SerialPty&) = delete;
  SerialPty& operator=(const SerialPty&) = delete;

  // What to put in "PORT" to reach this line ("pts/N").
  const std::string& PortName() const { return portName_; }
  // Waits up to timeoutMs for bytes from the program and takes up to dest.size() of them;
  // returns how many (0 when none came in time).
  std::size_t Read(std::span<std::uint8_t> dest, std::int32_t timeoutMs);
  // Writes all bytes towards the program, waiting at most timeoutMs for room; false on failure.
  bool Write(std::span<const std::uint8_t> bytes, std::int32_t timeoutMs = 5000);
  // The descriptor on this side; terminal attribute requests on it reach the program's side.
  int NativeHandle() const { return master_; }

 private:
  struct Token {};  // only Create makes pairs

 public:
  SerialPty(Token, int master, int keeper, std::string portName);

 private:
  int master_;
  // The program's side held open here as well, so that the line stays up while no program has
  // the port open; nothing is ever read through it.
  int keeper_;
  std::string portName_;
};

}  // namespace plat

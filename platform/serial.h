// Serial ports, as the serial link needs them.
#pragma once

#include <cstdint>

namespace plat {

struct SerialPort;  // one open port; defined by each system's implementation
using SerialHandle = SerialPort*;
inline constexpr SerialHandle kInvalidSerial = nullptr;

// Completion record of one direction of serial I/O.
struct Overlapped {
  std::intptr_t event = 0;
};

}  // namespace plat

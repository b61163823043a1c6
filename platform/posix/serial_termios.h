// The serial link's line settings expressed in POSIX terminal attributes (pure, so the mapping
// can be checked without a device that keeps every setting).
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

#include "platform/serial.h"

namespace plat::posix {

// The speed constant of a baud rate; nothing for a rate the terminal interface has no constant
// for (the port then keeps its rate).
std::optional<speed_t> SpeedFor(std::uint32_t baud);

// Raw, byte-transparent line (no input or output translation, no echo, no signals, no software
// flow control), receiver on, parity checking on, and the given speed, byte size, parity and stop
// bits. One and a half stop bits become two: the nearest a POSIX terminal offers, and what a
// UART sends as one and a half with five data bits. Values outside the coding leave that
// setting as it was; every other attribute is kept.
void ApplyLineSettings(termios& t, const SerialLineSettings& settings);

}  // namespace plat::posix

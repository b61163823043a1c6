// The serial link's line settings expressed in POSIX terminal attributes (pure, so the mapping
// can be checked without a device that keeps every setting), and given to a terminal line.
#pragma once

#include <termios.h>

#include "platform/serial.h"

namespace plat::posix {

// Raw, byte-transparent line (no input or output translation, no echo, no signals, no software
// flow control), receiver on, parity checking on, and the given byte size, parity and stop bits
// (SetLineSettings sets the speed). One and a half stop bits become two: the nearest a POSIX
// terminal offers, and what a UART sends as one and a half with five data bits. Values outside
// the coding leave that setting as it was; every other attribute is kept.
void ApplyLineSettings(termios& t, const SerialLineSettings& settings);

// Gives a terminal line the settings: the attributes above, then the speed exactly (any rate
// the driver takes; 0 keeps the speed). What the device refuses stays as it was; the receive
// queue is kept. Nothing on a descriptor that is no terminal.
void SetLineSettings(int fd, const SerialLineSettings& settings);

}  // namespace plat::posix

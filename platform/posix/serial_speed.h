// Exact line speeds of POSIX terminals (Linux), any rate the driver takes, also those the
// terminal interface has no speed constant for. Apart from <termios.h>: the kernel's termios2,
// which carries such a rate, comes with its own declaration of the terminal attributes.
#pragma once

#include <cstdint>

namespace plat::posix {

// Sets the line's input and output speed to exactly `baud`: by its speed constant where there is
// one (50 to 4000000), else as a free rate (termios2, BOTHER). A rate of 0 is no rate: the line
// keeps its speed (speed 0 would hang up a terminal line). What the line refuses is left as it
// was; nothing happens on a descriptor that is no terminal.
void SetExactSpeed(int fd, std::uint32_t baud);

// The line's output speed in baud, also a free rate; 0 when the descriptor is no terminal.
std::uint32_t LineSpeed(int fd);

}  // namespace plat::posix

// Millisecond tick counter and pauses.
#pragma once

#include <cstdint>

namespace plat {

// A millisecond counter that wraps at 2^32.
std::uint32_t TickCount();
void SleepMs(std::uint32_t milliseconds);

}  // namespace plat

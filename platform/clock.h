// Millisecond tick counter.
#pragma once

#include <cstdint>

namespace plat {

// A millisecond counter that wraps at 2^32.
std::uint32_t TickCount();

}  // namespace plat

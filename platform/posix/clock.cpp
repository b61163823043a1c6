// Monotonic millisecond ticks.
#include "platform/clock.h"

#include <time.h>

namespace plat {

std::uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);  // wraps at 2^32 like the system tick counter
}

}  // namespace plat

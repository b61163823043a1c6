// The one way the tools wait: every wait ends early when a request to end is noted
// (termination.h), also one noted before the wait began.
#pragma once

#include <cstdint>

namespace plat {

enum class WaitResult {
  Ready,       // what was waited for has come
  TimedOut,    // the time given has passed
  Terminated,  // a request to end came first
};

// A wait without a time limit, where a wait takes one.
inline constexpr std::int32_t kWaitForever = -1;

// Pauses for the time given (TimedOut), or less when a request to end comes (Terminated).
WaitResult Pause(std::uint32_t milliseconds);

}  // namespace plat

// The system's millisecond tick counter.
#include "platform/clock.h"

#include <windows.h>

namespace plat {

std::uint32_t TickCount() { return GetTickCount(); }  // wraps at 2^32 after 49.7 days

}  // namespace plat

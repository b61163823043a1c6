// The emulator program's run: the adapter its settings describe, served on UDP or a serial line
// until a terminating signal or the end of its parent process.
#pragma once

#include "sim/options.h"

namespace sim {

// Serves until SIGINT or SIGTERM, or the end of --parent-pid; returns the exit status (1 when it
// cannot answer where asked).
int RunEmulator(const Settings& settings);

}  // namespace sim

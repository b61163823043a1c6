// The script tool from its command line to its exit status.
#pragma once

namespace plcctl {

// Reads the command line, runs the command at each adapter and returns the exit status: 0 when
// every command succeeded, 1 when any failed, 2 for a usage or settings error (nothing sent),
// 128 + the signal after a terminating signal (the link closed, port and terminal restored).
int Main(int argc, const char* const* argv);

}  // namespace plcctl

// Starting a helper program from a command line and waiting until it has ended.
#pragma once

namespace plat {

// Runs the command line: its first word names the program, found through the system's program
// search; no shell is involved, so no word of the line is interpreted. The program shares the
// console. Returns false when it cannot be started; its exit status is not examined.
bool RunCommandLine(const char* commandLine);

}  // namespace plat

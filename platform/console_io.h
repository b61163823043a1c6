// The console as the tools use it: standard input read as it comes, single key presses without
// echo, and standard output written in whole screens. Every wait here ends on a request to end.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace plat {

// Whether standard input is a terminal (a console), where keys are read one by one.
bool StdinIsTerminal();

// Waits until standard input has bytes and takes up to dest.size() of them; returns how many. 0
// when input has ended, cannot be read, or a request to end came first (TerminationRequested
// tells which).
std::size_t ReadInput(std::span<char> dest);

// Waits for one key press on the terminal and returns it (0 to 255), or -1 when input has ended
// or a request to end came. The key is read in non-canonical, no-echo mode, which is restored
// before the call returns, whatever ends the wait.
int ReadTerminalKey();

// Writes all bytes to standard output; false when the output has gone (a closed pipe or
// terminal). A write that blocks (a stopped terminal, a full pipe) is given up when a request to
// end comes, since the run then ends.
bool WriteOutput(std::string_view bytes);

// The same for standard error, where a program's messages and progress go.
bool WriteErrorOutput(std::string_view bytes);
// Whether standard error is a terminal (a console), where a progress line can be redrawn.
bool StderrIsTerminal();

}  // namespace plat

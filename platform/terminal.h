// Reading single key presses from the console without echo.
#pragma once

namespace plat {

// Waits for one key press on standard input and returns it (0 to 255), or -1 when input has
// ended. On a terminal the key is read in non-canonical, no-echo mode, which is restored at once
// afterwards, and also when SIGINT, SIGTERM or SIGHUP arrives meanwhile (the signal then takes its
// usual course). When standard input is not a terminal, one byte is read.
int ReadKey();

}  // namespace plat

// The command tool's menu handlers: a free-text system command, and a restart of the adapter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "console/entry.h"

class C_ZANTO_EXTCMD_IF;

// Longest command line the adapter takes, in characters.
inline constexpr int SYSTEMCMD_MAX = 1024;

// Menu entry 1: sends one command line and prints the adapter's answer text.
int SystemCommand(C_ZANTO_EXTCMD_IF& extcmd);
// Menu entry 2: asks the adapter to restart and waits while it does.
int Restart(C_ZANTO_EXTCMD_IF& extcmd);

// Ends a command text of textLength characters, already followed by its NUL in data, with 0xFF
// bytes up to the next multiple of 4 and returns the data length that results (4 to 1028).
int PadCommandText(std::uint8_t* data, std::size_t textLength);

// The command tool as the shared entry runs it: time-out 10000 ms, and the serial line format
// taken from "DATABIT", "PARITY" and "STOPBIT".
const console::ToolDefinition& TarvikTool();

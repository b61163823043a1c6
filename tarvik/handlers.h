// The command tool's menu handlers: a free-text system command, and a restart of the adapter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "console/entry.h"
#include "extcmd/commands.h"

class C_ZANTO_EXTCMD_IF;

// Menu entry 1: sends one command line and prints the adapter's answer text.
int SystemCommand(C_ZANTO_EXTCMD_IF& extcmd);
// Menu entry 2: asks the adapter to restart and waits while it does.
int Restart(C_ZANTO_EXTCMD_IF& extcmd);

// The command tool as the shared entry runs it: time-out 10000 ms, and the serial line format
// taken from "DATABIT", "PARITY" and "STOPBIT".
const console::ToolDefinition& TarvikTool();

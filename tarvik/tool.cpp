// What makes the command tool: its time-out, serial line keys, menu and handlers.
#include <array>

#include "console/entry.h"
#include "extcmd/commands.h"
#include "tarvik/handlers.h"

namespace {

constexpr std::array<console::MenuHandler, 2> kHandlers = {SystemCommand, Restart};

constexpr console::ToolDefinition kTarvikTool{
    commands::kTarvikTimeoutMs, true,
    "\n\n<-- Main Menu -->\n\n 1. System Command\n 2. Restart\n 0. Quit\n\nInput number --> ",
    kHandlers};

}  // namespace

const console::ToolDefinition& TarvikTool() { return kTarvikTool; }

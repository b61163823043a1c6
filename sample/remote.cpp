// PLC Remote: the status of another adapter of the powerline network, through the relay command.
#include "console/console.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sample/handlers.h"

int PlcRemote(C_ZANTO_EXTCMD_IF& /*extcmd*/) { return 0; }

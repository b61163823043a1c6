// PLC Remote: the status of another adapter of the powerline network, through the relay command.
#include "console/console.h"
#include "extcmd/commands.h"
#include "sample/handlers.h"

namespace {

constexpr int kMacDigits = 12;

}  // namespace

int PlcRemote(C_ZANTO_EXTCMD_IF& extcmd) {
  while (PromptNumber("\n<-- Sub Menu -->\n 1. Get Status\n 0. Main Menu\n\nInput number --> ", 0,
                      1) == 1) {
    char entry[kMacDigits + 1];
    PromptText(entry, kMacDigits, " Please enter MAC address (6byte) --> ", 0);
    commands::Mac mac{};
    HexToBytes(entry, kMacDigits, mac.data());
    const int waitTime = PromptNumber(" Please enter (1-4095) for waitTime[*100ms] --> ",
                                      commands::kWaitTimeMin, commands::kWaitTimeMax);
    BeforeExchange();
    const auto status = commands::RemoteStatus(extcmd, mac, static_cast<std::uint16_t>(waitTime));
    if (!status) return ReportFailure(status.failure());
    PrintStatusRecord(status.value());
    Print("\n\n Press any key");
    WaitKey();
  }
  return 1;
}

// PLC Remote: the status of another adapter of the powerline network, through the relay command.
#include "console/console.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sample/handlers.h"

namespace {

// The relay request is started with room for a 28-byte inner header and 1440 data bytes, and
// the adapter is told that size as the longest relayed frame.
constexpr int kRelayDataLength = 1440;
constexpr std::uint32_t RelayMaxLength = frame::kHeaderSize + kRelayDataLength;  // 1468
constexpr int kMacDigits = 12;

// Builds the relayed Get Status for the MAC and wait time the user enters.
void BuildRelayedGetStatus(C_ZANTO_EXTCMD_IF& extcmd) {
  extcmd.MakeCommand(CMD_RELAY, kRelayDataLength);
  std::uint8_t* d = extcmd.GetData();
  char mac[kMacDigits + 1];
  PromptText(mac, kMacDigits, " Please enter MAC address (6byte) --> ", 0);
  HexToBytes(mac, kMacDigits, d + relay_header::kRemoteMac);
  const int waitTime = PromptNumber(" Please enter (1-4095) for waitTime[*100ms] --> ", 1, 4095);
  frame::Put16(d + relay_header::kWaitTime, static_cast<std::uint16_t>(waitTime));
  frame::Put32(d + relay_header::kRelayMaxLength, RelayMaxLength);
  // The inner Get Status data are four zero bytes, left so by MakeCommand.
  extcmd.MakeRelayCommand(CMD_GET_STATUS, 4);
}

}  // namespace

int PlcRemote(C_ZANTO_EXTCMD_IF& extcmd) {
  while (PromptNumber("\n<-- Sub Menu -->\n 1. Get Status\n 0. Main Menu\n\nInput number --> ", 0,
                      1) == 1) {
    BuildRelayedGetStatus(extcmd);
    // The local adapter's result first, then the remote one's in the nested answer; only the
    // outer answer is checked, the inner answer's header is taken as it comes.
    if (ExchangeAccepted(extcmd) == nullptr) return 0;
    std::uint8_t* inner = nullptr;
    extcmd.GetRelayResponse(&inner);
    const std::uint8_t* record = inner + frame::kHeaderSize;
    if (!Accepted(record[0])) return 0;
    PrintStatusRecord(record);
    Print("\n\n Press any key");
    WaitKey();
  }
  return 1;
}

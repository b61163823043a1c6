// PLC Remote: the status of another adapter of the powerline network, through the relay command.
#include "console/console.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sample/handlers.h"

namespace {

// Relay header fields, offsets in the outer data area.
constexpr int kRelayRemoteMac = 4;
constexpr int kRelayWaitTime = 10;
constexpr int kRelayMaxLengthField = 16;
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
  HexToBytes(mac, kMacDigits, d + kRelayRemoteMac);
  const int waitTime = PromptNumber(" Please enter (1-4095) for waitTime[*100ms] --> ", 1, 4095);
  frame::Put16(d + kRelayWaitTime, static_cast<std::uint16_t>(waitTime));
  frame::Put32(d + kRelayMaxLengthField, RelayMaxLength);
  // The inner Get Status data are four zero bytes, left so by MakeCommand.
  extcmd.MakeRelayCommand(CMD_GET_STATUS, 4);
}

}  // namespace

int PlcRemote(C_ZANTO_EXTCMD_IF& extcmd) {
  while (PromptNumber("\n<-- Sub Menu -->\n 1. Get Status\n 0. Main Menu\n\nInput number --> ", 0,
                      1) == 1) {
    BuildRelayedGetStatus(extcmd);
    if (!extcmd.Transact(0)) {
      PrintErrorCode(extcmd);
      return 0;
    }
    const std::uint8_t localResult = extcmd.GetData()[0];
    if (localResult != 0) {
      PrintResultFailure(localResult);
      return 0;
    }
    // Only the outer answer is checked; the inner answer's header is taken as it comes.
    std::uint8_t* inner = nullptr;
    extcmd.GetRelayResponse(&inner);
    const std::uint8_t* record = inner + frame::kHeaderSize;
    if (record[0] != 0) {
      PrintResultFailure(record[0]);
      return 0;
    }
    PrintStatusRecord(record);
    Print("\n\n Press any key");
    WaitKey();
  }
  return 1;
}

// Get Status and PLC Info Resolution of the adapter at the other end of the link.
#include <cstring>

#include "console/console.h"
#include "extcmd/records.h"
#include "extcmd/zanto_extcmd_if.h"
#include "platform/net.h"
#include "sample/handlers.h"

namespace {

namespace st = status_record;
namespace id = identity_record;

// A text field ends at its first NUL, or at the end of its span when it fills it.
int TextLength(const std::uint8_t* text, int span) {
  return static_cast<int>(strnlen(reinterpret_cast<const char*>(text), static_cast<std::size_t>(span)));
}

void PrintMac(const char* label, const std::uint8_t* m) {
  Print("%s%02x-%02x-%02x-%02x-%02x-%02x\n", label, m[0], m[1], m[2], m[3], m[4], m[5]);
}

void PrintText(const char* label, const std::uint8_t* text, int span) {
  Print("%s%.*s\n", label, TextLength(text, span), reinterpret_cast<const char*>(text));
}

}  // namespace

void PrintStatusRecord(const std::uint8_t* r) {
  Print("\n");
  if (r[st::kModeFlags] & 1) {
    Print(" Mode ................... Master\n");
    PrintMac(" MAC Address ............ ", r + st::kMacAddress);
  } else {
    Print(r[st::kAuthenticated] == 1 ? " Mode ................... Terminal(authenticated)\n"
                                   : " Mode ................... Terminal(not authenticated)\n");
    PrintMac(" MAC Address ............ ", r + st::kMacAddress);
    PrintMac(" Master MAC Address ..... ", r + st::kMasterMacAddress);
  }
  Print(" Registered Info ........ %d\n", r[st::kRegisteredInfo]);
  Print(" Ether LinkUp ........... %d\n", r[st::kEtherLinkUp]);
  Print(" Ether SpdDpx ........... %d\n", frame::Get16(r + st::kEtherSpdDpx));
  Print(" Multiple Mode .......... %d\n", r[st::kMultipleMode]);
  PrintText(" Main Version ........... ", r + st::kMainVersion, st::kMainVersionSize);
  PrintText(" Boot Version ........... ", r + st::kBootVersion, st::kBootVersionSize);
  Print(" Beacon Status .......... %d\n", r[st::kBeaconStatus]);
}

int GetStatus(C_ZANTO_EXTCMD_IF& extcmd) {
  extcmd.MakeCommand(CMD_GET_STATUS, 4);
  const std::uint8_t* record = ExchangeAccepted(extcmd);
  if (record == nullptr) return 0;
  PrintStatusRecord(record);
  Print("\n\n Press any key");
  WaitKey();
  return 1;
}

int InfoResolution(C_ZANTO_EXTCMD_IF& extcmd) {
  extcmd.MakeCommand(CMD_INFO_RESOLUTION, 4);
  char entry[17];
  PromptText(entry, 16, " Please enter access IP --> ", 1);
  // Text that is no address converts to 255.255.255.255, and that is sent as it is.
  const std::uint32_t address = plat::InetAddr(entry);
  std::memcpy(extcmd.GetData(), &address, 4);
  const std::uint8_t* r = ExchangeAccepted(extcmd);
  if (r == nullptr) return 0;
  const std::uint8_t* ip = r + id::kIpAddress;
  const std::uint8_t* mask = r + id::kSubnetMask;
  Print("\n");
  PrintMac(" MAC Address............. ", r + id::kMacAddress);
  Print(" IP Address.............. %d.%d.%d.%d\n", ip[0], ip[1], ip[2], ip[3]);
  Print(" Sub-Net Mask............ %d.%d.%d.%d\n", mask[0], mask[1], mask[2], mask[3]);
  PrintText(" Model Name.............. ", r + id::kModelName, id::kModelNameSize);
  Print(" Command Version......... 0x%08x\n", frame::Get32(r + id::kCommandVersion));
  Print(" Option Flag............. 0x%08x\n", frame::Get32(r + id::kOptionFlag));
  Print("\n\n Press any key");
  WaitKey();
  return 1;
}

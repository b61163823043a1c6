// Get Status and PLC Info Resolution of the adapter at the other end of the link.
#include <cstring>

#include "console/console.h"
#include "extcmd/zanto_extcmd_if.h"
#include "platform/net.h"
#include "sample/handlers.h"

namespace {

// Status record offsets.
constexpr int kStRegisteredInfo = 4;
constexpr int kStEtherLinkUp = 5;
constexpr int kStEtherSpdDpx = 6;
constexpr int kStMultipleMode = 8;
constexpr int kStAuthenticated = 9;
constexpr int kStMacAddress = 10;
constexpr int kStMainVersion = 16;
constexpr int kStMainVersionSize = 64;
constexpr int kStBootVersion = 80;
constexpr int kStBootVersionSize = 32;
constexpr int kStBeaconStatus = 112;
constexpr int kStModeFlags = 113;
constexpr int kStMasterMac = 114;

// Identity record offsets.
constexpr int kIdMacAddress = 2;
constexpr int kIdIpAddress = 8;
constexpr int kIdSubnetMask = 12;
constexpr int kIdCommandVersion = 16;
constexpr int kIdModelName = 20;
constexpr int kIdModelNameSize = 16;
constexpr int kIdOptionFlag = 36;

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
  if (r[kStModeFlags] & 1) {
    Print(" Mode ................... Master\n");
    PrintMac(" MAC Address ............ ", r + kStMacAddress);
  } else {
    Print(r[kStAuthenticated] == 1 ? " Mode ................... Terminal(authenticated)\n"
                                   : " Mode ................... Terminal(not authenticated)\n");
    PrintMac(" MAC Address ............ ", r + kStMacAddress);
    PrintMac(" Master MAC Address ..... ", r + kStMasterMac);
  }
  Print(" Registered Info ........ %d\n", r[kStRegisteredInfo]);
  Print(" Ether LinkUp ........... %d\n", r[kStEtherLinkUp]);
  Print(" Ether SpdDpx ........... %d\n", frame::Get16(r + kStEtherSpdDpx));
  Print(" Multiple Mode .......... %d\n", r[kStMultipleMode]);
  PrintText(" Main Version ........... ", r + kStMainVersion, kStMainVersionSize);
  PrintText(" Boot Version ........... ", r + kStBootVersion, kStBootVersionSize);
  Print(" Beacon Status .......... %d\n", r[kStBeaconStatus]);
}

int GetStatus(C_ZANTO_EXTCMD_IF& extcmd) {
  extcmd.MakeCommand(CMD_GET_STATUS, 4);
  if (!extcmd.Transact(0)) {
    PrintErrorCode(extcmd);
    return 0;
  }
  const std::uint8_t* record = extcmd.GetData();
  if (record[0] != 0) {
    PrintResultFailure(record[0]);
    return 0;
  }
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
  if (!extcmd.Transact(0)) {
    PrintErrorCode(extcmd);
    return 0;
  }
  const std::uint8_t* r = extcmd.GetData();
  if (r[0] != 0) {
    PrintResultFailure(r[0]);
    return 0;
  }
  const std::uint8_t* ip = r + kIdIpAddress;
  const std::uint8_t* mask = r + kIdSubnetMask;
  Print("\n");
  PrintMac(" MAC Address............. ", r + kIdMacAddress);
  Print(" IP Address.............. %d.%d.%d.%d\n", ip[0], ip[1], ip[2], ip[3]);
  Print(" Sub-Net Mask............ %d.%d.%d.%d\n", mask[0], mask[1], mask[2], mask[3]);
  PrintText(" Model Name.............. ", r + kIdModelName, kIdModelNameSize);
  Print(" Command Version......... 0x%08x\n", frame::Get32(r + kIdCommandVersion));
  Print(" Option Flag............. 0x%08x\n", frame::Get32(r + kIdOptionFlag));
  Print("\n\n Press any key");
  WaitKey();
  return 1;
}

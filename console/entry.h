// The entry both tools share: configuration, link choice, open, menu loop and shut-down.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "console/ini.h"

class C_ZANTO_EXTCMD_IF;

namespace console {

// The configuration file, read from the working directory.
inline constexpr const char* kConfigFile = "sample.ini";

struct LinkConfig {
  std::string serialPort;  // "SERIAL" "PORT", at most 7 characters
  std::uint32_t rate = 0;  // "SERIAL" "RATE"
  int dataBits = 8;        // "SERIAL" "DATABIT", "PARITY", "STOPBIT" (command tool only)
  int parity = 0;
  int stopBits = 0;
  std::string ip;                          // "ETHERNET" "IP", at most 15 characters
  std::uint16_t etherPort = 0;             // "ETHERNET" "PORT"
  std::string hostIp;                      // "ETHERNET" "HOST_IP", at most 15 characters
  int arp = 0;                             // "ETHERNET" "ARP"
  std::string mac;                         // "ETHERNET" "MAC", read only when ARP is 1
  std::array<std::uint8_t, 6> macBytes{};  // from mac; bytes it does not give stay 0
};

// Reads the keys in the tools' order; lineFormatKeys adds "DATABIT", "PARITY" and "STOPBIT".
LinkConfig ReadLinkConfig(const IniFile& ini, bool lineFormatKeys);

using MenuHandler = int (*)(C_ZANTO_EXTCMD_IF&);

// What makes one tool: its answer time-out, its menu and whether it reads the line format keys.
struct ToolDefinition {
  int timeoutMs;
  bool lineFormatKeys;
  const char* menuText;
  std::span<const MenuHandler> handlers;  // menu entry n runs handlers[n - 1]
};

// Runs a tool from start-up to shut-down and returns its exit status: 0 after menu entry 0 or
// when input ends at the tool's own prompts, 1 when input ends inside a menu handler. A
// terminating signal at a prompt or key wait ends input; after the shut-down the process then
// ends by that signal. The
// command interface object is made here with the tool's time-out, and "sample.ini" is read
// from the working directory.
int RunTool(const ToolDefinition& tool);

// The same run on an object and a configuration the caller provides (tests put a simulated
// link there); the object is not destroyed here.
int RunTool(const ToolDefinition& tool, C_ZANTO_EXTCMD_IF& extcmd, const IniFile& ini);

}  // namespace console

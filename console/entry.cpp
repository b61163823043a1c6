// Start-up, menu loop and shut-down of a tool.
#include "console/entry.h"

#include <memory>

#include "console/console.h"
#include "console/io.h"
#include "extcmd/zanto_extcmd_if.h"
#include "platform/termination.h"

namespace console {

LinkConfig ReadLinkConfig(const IniFile& ini, bool lineFormatKeys) {
  LinkConfig c;
  c.serialPort = ini.GetString("SERIAL", "PORT", "COM1", 7);
  c.rate = static_cast<std::uint32_t>(ini.GetInt("SERIAL", "RATE", 115200));
  if (lineFormatKeys) {
    c.dataBits = ini.GetInt("SERIAL", "DATABIT", 8);
    c.parity = ini.GetInt("SERIAL", "PARITY", 0);
    c.stopBits = ini.GetInt("SERIAL", "STOPBIT", 0);
  }
  c.ip = ini.GetString("ETHERNET", "IP", "192.168.0.249", 15);
  c.etherPort = static_cast<std::uint16_t>(ini.GetInt("ETHERNET", "PORT", 0xC000));
  c.hostIp = ini.GetString("ETHERNET", "HOST_IP", "", 15);
  c.arp = ini.GetInt("ETHERNET", "ARP", 0);
  if (c.arp == 1) {
    c.mac = ini.GetString("ETHERNET", "MAC", "-", 12);
    if (!c.mac.empty())
      HexToBytes(c.mac.c_str(), static_cast<int>(c.mac.size()), c.macBytes.data());
  }
  return c;
}

namespace {

// The interface object has no virtual destructor; the entry's own one is of a final type, so it
// is always destroyed as exactly what it is.
class ToolObject final : public C_ZANTO_EXTCMD_IF {
 public:
  using C_ZANTO_EXTCMD_IF::C_ZANTO_EXTCMD_IF;
};

void OpenLink(C_ZANTO_EXTCMD_IF& extcmd, const LinkConfig& c) {
  // Failures are not examined here: each command reports them when it finds no link.
  if (PromptNumber("Connection type ? 0:Ether / 1:Serial --> ", 0, 1) == CONNECT_ETHER) {
    if (c.arp == 1) extcmd.SetArpEntry(c.ip.c_str(), c.macBytes.data(), c.hostIp.c_str());
    extcmd.OpenEther(c.hostIp.c_str(), c.ip.c_str(), c.etherPort, c.macBytes.data());
  } else {
    extcmd.OpenSerial(c.serialPort.c_str(), c.rate, c.dataBits, c.parity, c.stopBits);
  }
}

// Runs the menu until entry 0; returns 1 when input ended inside a handler.
int MenuLoop(C_ZANTO_EXTCMD_IF& extcmd, const ToolDefinition& tool) {
  for (;;) {
    const int choice = PromptNumber(tool.menuText, 0, static_cast<int>(tool.handlers.size()));
    if (choice == 0) return 0;
    try {
      tool.handlers[static_cast<std::size_t>(choice - 1)](extcmd);
    } catch (const InputEnded&) {
      return 1;
    }
  }
}

// Owns the open link for one run: on every way out of it (the menu's end, the end of input, an
// exception) closes the link that GetConnectType reports, once, by its own close operation, so
// that a serial port gets its settings back before the object goes.
class OpenLinkOwner {
 public:
  explicit OpenLinkOwner(C_ZANTO_EXTCMD_IF& extcmd) : extcmd_(extcmd) {}
  OpenLinkOwner(const OpenLinkOwner&) = delete;
  OpenLinkOwner& operator=(const OpenLinkOwner&) = delete;
  ~OpenLinkOwner() {
    switch (extcmd_.GetConnectType()) {
      case CONNECT_ETHER:
        extcmd_.CloseEther();
        break;
      case CONNECT_SERIAL:
        extcmd_.CloseSerial();
        break;
      default:
        break;
    }
  }

 private:
  C_ZANTO_EXTCMD_IF& extcmd_;
};

}  // namespace

int RunTool(const ToolDefinition& tool, C_ZANTO_EXTCMD_IF& extcmd, const IniFile& ini) {
  const LinkConfig config = ReadLinkConfig(ini, tool.lineFormatKeys);
  int status = 0;
  {
    const OpenLinkOwner link(extcmd);
    try {
      OpenLink(extcmd, config);
      status = MenuLoop(extcmd, tool);
    } catch (const InputEnded&) {
      status = 0;  // input ended at the link prompt or the main menu
    }
  }
  Io().Flush();  // the last screen, also when input ended or the run was asked to end
  return status;
}

int RunTool(const ToolDefinition& tool) {
  // Interrupt, terminate, hang-up and quit, and output that has gone, end the run as the end of
  // input does, so the link is closed (and a serial line given back its settings); then the
  // signal takes its course when the watch ends.
  const plat::TerminationWatch watch;
  const auto extcmd = std::make_unique<ToolObject>(tool.timeoutMs);
  int status = 1;
  try {
    status = RunTool(tool, *extcmd, IniFile::Load(kConfigFile));
  } catch (...) {
    // An exception that nothing handles ends the process without unwinding the stack; caught
    // here, the run has unwound and its owner has closed the link. It then goes on as before.
    throw;
  }
  // Should the signal not end the process (a SIGPIPE the caller ignores), the run still failed.
  return plat::TerminationRequested() ? 1 : status;
}

}  // namespace console

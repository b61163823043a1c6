// Runs one command at each adapter in turn over one link, and reports each result.
#include "plcctl/run.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <system_error>

#include "console/record_text.h"
#include "extcmd/commands.h"
#include "platform/clock.h"
#include "platform/console_io.h"
#include "platform/net.h"
#include "platform/termination.h"
#include "platform/wait.h"
#include "plcctl/invocation.h"
#include "plcctl/link.h"
#include "plcctl/progress.h"
#include "plcctl/report.h"

namespace plcctl {
namespace {

constexpr std::uint32_t kSecondMs = 1000;

// The link for the whole run, closed on every way out (also after a terminating signal), which
// gives a serial port its settings back.
class OpenLink {
 public:
  OpenLink(PlcctlLink& link, const Invocation& inv) : link_(link) {
    const console::LinkConfig& k = inv.config;
    if (inv.link == LinkKind::Serial) {
      opened_ = link.OpenSerial(k.serialPort.c_str(), k.rate, k.dataBits, k.parity, k.stopBits);
      return;
    }
    // The tools do not examine the ARP entry's result either: a failure shows as the link's.
    if (k.arp == 1) link.SetArpEntry(k.ip.c_str(), k.macBytes.data(), k.hostIp.c_str());
    opened_ = link.OpenEther(k.hostIp.c_str(), k.ip.c_str(), k.etherPort, k.macBytes.data());
  }
  ~OpenLink() {
    if (link_.GetConnectType() == CONNECT_ETHER) link_.CloseEther();
    if (link_.GetConnectType() == CONNECT_SERIAL) link_.CloseSerial();
  }
  OpenLink(const OpenLink&) = delete;
  OpenLink& operator=(const OpenLink&) = delete;

  bool Opened() const { return opened_ != 0; }

 private:
  PlcctlLink& link_;
  int opened_ = 0;
};

// Pauses, telling the seconds left each second; false when a request to end came.
template <class Tell>
bool PauseTelling(std::uint32_t milliseconds, Tell tell) {
  for (std::uint32_t left = milliseconds; left > 0;) {
    tell((left + kSecondMs - 1) / kSecondMs);
    const std::uint32_t step = std::min(left, kSecondMs);
    if (plat::Pause(step) == plat::WaitResult::Terminated) return false;
    left -= step;
  }
  return true;
}

Result Failed(const commands::Failure& failure) {
  Result r;
  r.ok = false;
  r.failure = failure;
  return r;
}

Result StatusResult(const commands::Outcome<commands::StatusRecord>& status) {
  if (!status) return Failed(status.failure());
  Result r;
  r.fields["status"] = Reporter::StatusJson(status.value());
  r.text = console::StatusText(status.value());
  r.line = OneLine(r.text);
  return r;
}

// One command at the adapter the link now addresses.
class CommandRun {
 public:
  CommandRun(PlcctlLink& link, const Invocation& inv) : link_(link), inv_(inv) {}

  Result Run(const std::string& adapter) {
    Result r = RunCommand();
    r.adapter = adapter;
    return r;
  }

 private:
  Result RunCommand() {
    switch (inv_.command) {
      case Command::Status:
        return StatusResult(commands::GetStatus(link_));
      case Command::Identity:
        return Identity();
      case Command::Remote:
        return Remote();
      case Command::Firmware:
        return Firmware();
      case Command::SystemCommand:
        return SystemCommand();
      case Command::Restart:
        return Restart();
      case Command::Settings:
        break;
    }
    return {};
  }

  Result Identity() {
    const auto identity =
        commands::InfoResolution(link_, plat::InetAddr(inv_.identityAddress.c_str()));
    if (!identity) return Failed(identity.failure());
    Result r;
    r.fields["identity"] = Reporter::IdentityJson(identity.value());
    r.text = console::IdentityText(identity.value());
    r.line = OneLine(r.text);
    return r;
  }

  Result Remote() {
    Result r = StatusResult(commands::RemoteStatus(link_, inv_.remoteMac, inv_.waitTime));
    r.fields["remote_mac"] = console::MacText(inv_.remoteMac);
    return r;
  }

  Result Firmware() {
    ProgressLine progress(!inv_.json && !inv_.quiet, plat::StderrIsTerminal(), inv_.image.size());
    const auto sent = commands::UpdateFirmware(link_, inv_.image, progress, inv_.timeoutMs);
    Result r;
    if (const auto* failed = std::get_if<commands::FirmwareFailure>(&sent)) {
      progress.Done();
      r = Failed(failed->failure);
      r.fields = {
          {"blocks", failed->sent.blocks}, {"bytes", failed->sent.bytes}, {"block", failed->block}};
      return r;
    }
    const auto& done = std::get<commands::FirmwareSent>(sent);
    const bool paused = PauseTelling(commands::kWriteMemoryPauseMs,
                                     [&](std::uint32_t s) { progress.Countdown(s); });
    progress.Done();
    if (!paused) return {};  // stopped: the run ends without a result
    r.fields = {{"blocks", done.blocks}, {"bytes", done.bytes}};
    r.text = "firmware: " + std::to_string(done.blocks) + " blocks, " + std::to_string(done.bytes) +
             " bytes accepted\n";
    r.line = r.text.substr(0, r.text.size() - 1);
    return r;
  }

  Result SystemCommand() {
    const auto answer = commands::SystemCommand(link_, inv_.systemLine);
    if (!answer) return Failed(answer.failure());
    Result r;
    r.fields["answer"] = answer.value();
    r.text = answer.value() + "\n";
    r.line = answer.value();
    return r;
  }

  Result Restart() {
    const auto confirmed = commands::Restart(link_);
    if (!confirmed) return Failed(confirmed.failure());
    if (!inv_.noWait && plat::Pause(commands::kRestartPauseMs) == plat::WaitResult::Terminated) {
      return {};
    }
    Result r;
    r.fields["confirmed"] = true;
    r.text = "restart confirmed\n";
    r.line = "restart confirmed";
    return r;
  }

  PlcctlLink& link_;
  const Invocation& inv_;
};

// "settings": what the run would use, one result per adapter; nothing is opened.
int PrintSettings(const Invocation& inv, Reporter& reporter) {
  static const char* const kLinkNames[] = {"udp", "serial"};
  const console::LinkConfig& k = inv.config;
  for (const std::string& ip : inv.adapters) {
    Result r;
    r.adapter = inv.link == LinkKind::Serial ? k.serialPort : ip;
    r.fields = {{"link", kLinkNames[static_cast<int>(inv.link)]},
                {"ip", ip},
                {"port", k.etherPort},
                {"host_ip", k.hostIp},
                {"arp", k.arp},
                {"mac", k.mac},
                {"serial_port", k.serialPort},
                {"rate", k.rate},
                {"data_bits", k.dataBits},
                {"parity", k.parity},
                {"stop_bits", k.stopBits},
                {"timeout", inv.timeoutMs}};
    for (const auto& [key, value] : r.fields.items()) {
      const std::string shown = value.is_string() ? value.get<std::string>() : value.dump();
      r.text.append(key).append(" ").append(shown).append("\n");
      r.line.append(r.line.empty() ? "" : ", ").append(key).append(" ").append(shown);
    }
    reporter.Emit(r);
    if (inv.link == LinkKind::Serial) break;
  }
  return kExitOk;
}

// Each adapter in turn; false when any failed. Stops when a request to end comes.
bool RunOnce(PlcctlLink& link, const OpenLink& open, const Invocation& inv, Reporter& reporter) {
  bool allOk = true;
  CommandRun command(link, inv);
  for (const std::string& adapter : inv.Targets()) {
    if (plat::TerminationRequested()) return allOk;
    if (inv.link == LinkKind::Udp && open.Opened()) {
      link.m_DestAddr.addr = plat::InetAddr(adapter.c_str());
    }
    Result r = open.Opened() ? command.Run(adapter) : Failed({link.GetErrorCode(), 0});
    r.adapter = adapter;
    // A result that a request to end cut short is not one: the run ends without it.
    if (plat::TerminationRequested()) return allOk;
    allOk = allOk && r.ok;
    reporter.Emit(r);
  }
  return allOk;
}

int RunCommand(const Invocation& inv, Reporter& reporter) {
  std::optional<pcap::CaptureFile> capture;
  if (!inv.capture.empty()) {
    try {
      capture.emplace(inv.capture, inv.link == LinkKind::Serial ? pcap::CaptureLink::Serial
                                                                : pcap::CaptureLink::Ipv4);
    } catch (const std::system_error& e) {
      plat::WriteErrorOutput(std::string("plcctl: ") + e.what() + "\n");
      return kExitUsage;
    }
  }
  PlcctlLink link(inv.timeoutMs);
  if (capture) {
    pcap::Endpoint local;
    const std::uint32_t host =
        inv.config.hostIp.empty() ? 0 : plat::InetAddr(inv.config.hostIp.c_str());
    std::memcpy(local.address.data(), &host, local.address.size());
    local.port = inv.config.etherPort;
    link.RecordTo(&*capture, local);
  }
  const OpenLink open(link, inv);
  if (!inv.everySeconds) return RunOnce(link, open, inv, reporter) ? kExitOk : kExitFailed;

  // Samples at fixed times from the first one on, so a slow answer does not shift the rest.
  bool allOk = true;
  const auto periodMs = static_cast<std::uint32_t>(*inv.everySeconds * kSecondMs);
  const std::uint32_t start = plat::TickCount();
  for (long n = 1; !inv.count || n <= *inv.count; ++n) {
    allOk = RunOnce(link, open, inv, reporter) && allOk;
    if (inv.count && n == *inv.count) break;
    const std::uint32_t due = periodMs * static_cast<std::uint32_t>(n);
    const std::uint32_t elapsed = plat::TickCount() - start;
    if (plat::Pause(due > elapsed ? due - elapsed : 0) == plat::WaitResult::Terminated) break;
  }
  return allOk ? kExitOk : kExitFailed;
}

}  // namespace

int Main(int argc, const char* const* argv) {
  int status = kExitOk;
  {
    // From the start: a signal at any time only asks the run to end, which it then does with
    // the link closed and the port and terminal restored.
    const plat::TerminationWatch watch;
    const Parsed parsed = Parse(argc, argv);
    if (!parsed.invocation) return parsed.exitStatus;
    const Invocation& inv = *parsed.invocation;
    Reporter reporter(inv);
    status =
        inv.command == Command::Settings ? PrintSettings(inv, reporter) : RunCommand(inv, reporter);
    // Everything is put back; the status tells of the signal, and the watch raises nothing.
    const int signal = plat::TakeTerminationRequest();
    if (signal != 0) status = kSignalBase + signal;
  }
  return status;
}

}  // namespace plcctl

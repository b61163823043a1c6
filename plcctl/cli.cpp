// The script tool's command line, read with CLI11, over "sample.ini" as the tools read it.
#include <CLI/CLI.hpp>

#include <cctype>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "console/console.h"
#include "console/ini.h"
#include "platform/console_io.h"
#include "platform/net.h"
#include "plcctl/invocation.h"

namespace plcctl {
namespace {

// A usage or settings error found after CLI11 has read the line.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The line format keys in the serial API's coding, by the names the options take.
const std::map<std::string, int> kParity = {
    {"none", 0}, {"odd", 1}, {"even", 2}, {"mark", 3}, {"space", 4}};
const std::map<std::string, int> kStopBits = {{"1", 0}, {"1.5", 1}, {"2", 2}};

struct Commands {
  CLI::App* status;
  CLI::App* identity;
  CLI::App* remote;
  CLI::App* firmware;
  CLI::App* systemCommand;
  CLI::App* restart;
  CLI::App* settings;
};

// What the options say before they are laid over "sample.ini".
struct Given {
  std::string config = console::kConfigFile;
  std::string link = "udp";
  std::vector<std::string> ip;
  std::optional<int> port;
  std::optional<std::string> hostIp;
  std::optional<std::string> arpMac;
  std::optional<std::string> serialPort;
  std::optional<std::uint32_t> rate;
  std::optional<int> dataBits;
  std::optional<std::string> parity;
  std::optional<std::string> stopBits;
  std::optional<int> timeout;
  std::string remoteMac;
  std::string firmwareFile;
  std::vector<std::string> words;
};

std::string ReadWholeFile(const std::string& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError("cannot read the " + std::string(what) + " " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// "--ip @FILE": one address a line; "#" starts a comment; blank lines are passed over.
std::vector<std::string> AddressesOf(const std::string& option) {
  if (option.empty() || option[0] != '@') return {option};
  std::istringstream lines(ReadWholeFile(option.substr(1), "address list"));
  std::vector<std::string> addresses;
  for (std::string line; std::getline(lines, line);) {
    line = line.substr(0, line.find('#'));
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    const auto last = line.find_last_not_of(" \t\r");
    addresses.push_back(line.substr(first, last - first + 1));
  }
  if (addresses.empty()) throw UsageError("no address in " + option.substr(1));
  return addresses;
}

void CheckAddress(const std::string& text, const char* what) {
  if (!IsIpv4(text)) throw UsageError(std::string(what) + " is no IPv4 address: " + text);
}

commands::Mac MacOf(const std::string& text, const char* what) {
  const auto mac = ParseMac(text);
  if (!mac) throw UsageError(std::string(what) + " is no MAC address: " + text);
  return *mac;
}

// The keys as the tools read them, then every option over the key it names, and the adapters.
void SettleLink(const Given& g, CLI::App& app, Invocation& inv) {
  if (app.count("--config") != 0) ReadWholeFile(g.config, "configuration file");
  inv.config = console::ReadLinkConfig(console::IniFile::Load(g.config.c_str()), true);
  console::LinkConfig& k = inv.config;
  inv.link = g.link == "serial" ? LinkKind::Serial : LinkKind::Udp;
  if (g.port) k.etherPort = static_cast<std::uint16_t>(*g.port);
  if (g.hostIp) k.hostIp = *g.hostIp;
  if (g.arpMac) {
    k.arp = 1;
    k.mac = *g.arpMac;
    k.macBytes = MacOf(*g.arpMac, "--arp");
  }
  if (g.serialPort) k.serialPort = *g.serialPort;
  if (g.rate) k.rate = *g.rate;
  if (g.dataBits) k.dataBits = *g.dataBits;
  if (g.parity) k.parity = kParity.at(*g.parity);
  if (g.stopBits) k.stopBits = kStopBits.at(*g.stopBits);

  for (const std::string& ip : g.ip) {
    for (std::string& a : AddressesOf(ip)) inv.adapters.push_back(std::move(a));
  }
  if (inv.adapters.empty()) inv.adapters.push_back(k.ip);
  k.ip = inv.adapters.front();
  if (inv.link == LinkKind::Udp) {
    // An address the tools would take as broadcast (255.255.255.255) is refused here: a script
    // must never send to every host of the network by a typing error.
    for (const std::string& a : inv.adapters) CheckAddress(a, "IP");
    if (!k.hostIp.empty()) CheckAddress(k.hostIp, "HOST_IP");
    // The static ARP entry names one adapter's MAC; for several adapters it would be wrong.
    if (k.arp == 1 && inv.adapters.size() > 1) {
      throw UsageError("ARP=1 (or --arp) names one adapter's MAC; give one adapter");
    }
  }
}

// What the command takes beside the link: its time-out and its own arguments, checked.
void SettleCommand(const Given& g, const Commands& c, Invocation& inv) {
  const bool commandTool = c.systemCommand->parsed() || c.restart->parsed();
  inv.timeoutMs =
      g.timeout.value_or(commandTool ? commands::kTarvikTimeoutMs : commands::kSampleTimeoutMs);
  if (c.identity->parsed()) CheckAddress(inv.identityAddress, "the address");
  if (c.remote->parsed()) inv.remoteMac = MacOf(g.remoteMac, "MAC");
  if (c.firmware->parsed()) {
    switch (commands::ReadImage(g.firmwareFile.c_str(), inv.image)) {
      case commands::ImageRead::OpenError:
        throw UsageError("cannot open the firmware image file " + g.firmwareFile);
      case commands::ImageRead::ReadError:
        throw UsageError("cannot read the firmware image file " + g.firmwareFile);
      case commands::ImageRead::Ok:
        break;
    }
  }
  if (c.systemCommand->parsed()) {
    for (const std::string& w : g.words) inv.systemLine += (inv.systemLine.empty() ? "" : " ") + w;
    if (inv.systemLine.empty() || inv.systemLine.size() > commands::kSystemCommandMax) {
      throw UsageError("the system command line takes 1 to 1024 characters");
    }
  }
  if (inv.count && !inv.everySeconds) throw UsageError("--count goes with --every");
}

void Settle(const Given& g, const Commands& c, CLI::App& app, Invocation& inv) {
  SettleLink(g, app, inv);
  SettleCommand(g, c, inv);
}

std::string CommandOf(const Commands& c, Command& command) {
  const std::pair<CLI::App*, Command> all[] = {{c.status, Command::Status},
                                               {c.identity, Command::Identity},
                                               {c.remote, Command::Remote},
                                               {c.firmware, Command::Firmware},
                                               {c.systemCommand, Command::SystemCommand},
                                               {c.restart, Command::Restart},
                                               {c.settings, Command::Settings}};
  for (const auto& [app, which] : all) {
    if (app->parsed()) {
      command = which;
      return app->get_name();
    }
  }
  return {};
}

void Say(const std::string& text, bool error) {
  if (error) {
    plat::WriteErrorOutput(text);
  } else {
    plat::WriteOutput(text);
  }
}

}  // namespace

std::vector<std::string> Invocation::Targets() const {
  if (link == LinkKind::Serial) return {config.serialPort};
  return adapters;
}

bool IsIpv4(const std::string& text) {
  int parts = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t dot = std::min(text.find('.', at), text.size());
    const std::string_view part(text.data() + at, dot - at);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || part.size() > 3 || error != std::errc() ||
        end != part.data() + part.size() || value > 255) {
      return false;
    }
    ++parts;
    at = dot + 1;
  }
  return parts == 4;
}

std::optional<commands::Mac> ParseMac(const std::string& text) {
  std::string digits;
  if (text.size() == 17) {
    const char separator = text[2];
    if (separator != ':' && separator != '-') return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (i % 3 == 2) {
        if (text[i] != separator) return std::nullopt;
      } else {
        digits += text[i];
      }
    }
  } else {
    digits = text;
  }
  if (digits.size() != 12) return std::nullopt;
  for (const char d : digits) {
    if (std::isxdigit(static_cast<unsigned char>(d)) == 0) return std::nullopt;
  }
  commands::Mac mac{};
  HexToBytes(digits.c_str(), static_cast<int>(digits.size()), mac.data());
  return mac;
}

Parsed Parse(int argc, const char* const* argv) {
  CLI::App app{
      "Runs one command at powerline adapters, for scripts: plcctl [OPTIONS] COMMAND "
      "[ARGUMENTS]. Settings come from sample.ini as the interactive tools read it; "
      "each option overrides the key it names.",
      "plcctl"};
  app.set_version_flag("--version", std::string("plcctl ") + PLC_VERSION);
  app.require_subcommand(1, 1);
  app.fallthrough();
  Given g;
  Invocation inv;
  app.add_option("--config", g.config, "settings file (default: sample.ini here, if there)");
  app.add_option("--link", g.link, "udp (default) or serial")
      ->check(CLI::IsMember({"udp", "serial"}));
  app.add_option("--ip", g.ip, "adapter address (IP); again for more adapters, or @FILE")
      ->allow_extra_args(false);
  app.add_option("--port", g.port, "UDP port, here and at the adapter (PORT)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--host-ip", g.hostIp, "this computer's address (HOST_IP)");
  app.add_option("--arp", g.arpMac, "add the static ARP entry first, with this MAC (ARP=1, MAC)");
  app.add_option("--serial-port", g.serialPort, "serial port as in sample.ini: COM1, ttyUSB0");
  app.add_option("--rate", g.rate, "serial rate (RATE)");
  app.add_option("--data-bits", g.dataBits, "data bits (DATABIT)")->check(CLI::Range(5, 8));
  app.add_option("--parity", g.parity, "none, odd, even, mark or space (PARITY)")
      ->check(CLI::IsMember({"none", "odd", "even", "mark", "space"}));
  app.add_option("--stop-bits", g.stopBits, "1, 1.5 or 2 (STOPBIT)")
      ->check(CLI::IsMember({"1", "1.5", "2"}));
  app.add_option("--timeout", g.timeout,
                 "answer time-out in ms (5000; 10000 for "
                 "system-command and restart)")
      ->check(CLI::Range(1, 0x7FFFFFFF));
  app.add_flag("--json", inv.json, "results as JSON Lines on standard output");
  app.add_flag("--quiet", inv.quiet, "print nothing but failures");
  app.add_option("--capture", inv.capture, "record every frame in this pcap file");

  Commands c{};
  c.status = app.add_subcommand("status", "Get Status of the adapter");
  c.status->add_option("--every", inv.everySeconds, "one Get Status each SECONDS")
      ->check(CLI::PositiveNumber);
  c.status->add_option("--count", inv.count, "with --every: this many")->check(CLI::PositiveNumber);
  c.identity = app.add_subcommand("identity", "PLC Info Resolution for an IPv4 address");
  c.identity->add_option("IPV4", inv.identityAddress, "the address")->required();
  c.remote = app.add_subcommand("remote", "Get Status of another adapter through the relay");
  c.remote->add_option("MAC", g.remoteMac, "its MAC: 12 hex digits, or with : or -")->required();
  c.remote->add_option("--wait", inv.waitTime, "waitTime in 100 ms steps (default 10)")
      ->check(CLI::Range(commands::kWaitTimeMin, commands::kWaitTimeMax));
  c.firmware = app.add_subcommand("firmware", "update the firmware with an image file");
  c.firmware->add_option("FILE", g.firmwareFile, "the image")->required();
  c.systemCommand = app.add_subcommand("system-command", "send one system command line");
  c.systemCommand->add_option("TEXT", g.words, "the words of the line")->required();
  c.restart = app.add_subcommand("restart", "restart the adapter");
  c.restart->add_flag("--no-wait", inv.noWait, "do not wait the 8 s of the restart");
  c.settings = app.add_subcommand("settings", "print the link settings in effect; sends nothing");

  try {
    app.parse(argc, argv);
    inv.commandName = CommandOf(c, inv.command);
    Settle(g, c, app, inv);
  } catch (const CLI::Success& e) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = app.exit(e, out, err);
    Say(out.str(), false);
    Say(err.str(), true);
    return {std::nullopt, status};
  } catch (const CLI::Error& e) {
    Say(std::string("plcctl: ") + e.what() + " (plcctl --help lists the options)\n", true);
    return {std::nullopt, kExitUsage};
  } catch (const std::exception& e) {
    Say(std::string("plcctl: ") + e.what() + "\n", true);
    return {std::nullopt, kExitUsage};
  }
  return {std::move(inv), kExitOk};
}

}  // namespace plcctl

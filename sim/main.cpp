// plc_adapter_emulator: stands in for an adapter on the network so the tools can be tried without one.
#include <signal.h>
#include <time.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "extcmd/firmware_block.h"
#include "extcmd/frame.h"
#include "extcmd/records.h"
#include "pcap/capture.h"
#include "sim/adapter.h"
#include "sim/serial_server.h"
#include "sim/udp_server.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void NoteStop(int) { g_stop = 1; }

struct Settings {
  sim::UdpServer::Options udp{"127.0.0.2", 49152, "127.0.0.3"};
  sim::AdapterProfile profile;
  std::vector<sim::Fault> faults;
  std::optional<sim::SerialServer::Options> serial;  // set: serve a serial line instead of UDP
  std::vector<sim::SerialFault> lineFaults;
  std::vector<std::pair<sim::Mac, std::uint8_t>> remotes;  // MAC address, result
  std::string firmwareOut;
  std::string capture;  // pcap file of the traffic
  long parentPid = 0;
  bool verbose = false;
  bool help = false;
  std::set<std::string_view> given;  // the options on the command line
};

// Decimal, or hexadecimal after 0x; at most max.
std::optional<std::uint32_t> Number(std::string_view text, std::uint32_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > max) {
    return std::nullopt;
  }
  return value;
}

template <typename T>
bool SetNumber(T& field, std::string_view text, std::uint32_t max) {
  const auto value = Number(text, max);
  if (value) field = static_cast<T>(*value);
  return value.has_value();
}

// 12 hexadecimal digits, first byte first.
std::optional<sim::Mac> MacText(std::string_view text) {
  if (text.size() != 12) return std::nullopt;
  sim::Mac mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const auto [end, error] =
        std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, mac[i], 16);
    if (error != std::errc{} || end != text.data() + 2 * i + 2) return std::nullopt;
  }
  return mac;
}

bool SetMac(sim::Mac& field, std::string_view text) {
  const auto mac = MacText(text);
  if (mac) field = *mac;
  return mac.has_value();
}

bool SetIpv4(sim::Ipv4& field, std::string_view text) {
  in_addr a{};
  if (inet_pton(AF_INET, std::string(text).c_str(), &a) != 1) return false;
  const auto* b = reinterpret_cast<const std::uint8_t*>(&a.s_addr);
  std::copy(b, b + 4, field.begin());
  return true;
}

bool SetChoice(bool& field, std::string_view text, std::string_view yes, std::string_view no) {
  if (text != yes && text != no) return false;
  field = text == yes;
  return true;
}

// "KEY=VALUE" split at its first '='.
std::optional<std::pair<std::string_view, std::string_view>> Pair(std::string_view text) {
  const auto eq = text.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::pair{text.substr(0, eq), text.substr(eq + 1)};
}

// A fault for one command (its key) or for every command ("all").
bool AddFault(Settings& s, sim::FaultKind kind, std::string_view key, int value) {
  sim::Fault fault{kind, std::nullopt, value, false};
  if (key != "all") {
    const sim::CommandInfo* command = sim::FindCommand(key);
    if (command == nullptr) return false;
    fault.command = command->base;
  }
  s.faults.push_back(fault);
  return true;
}

bool AddValueFault(Settings& s, sim::FaultKind kind, std::string_view text, std::uint32_t max) {
  const auto pair = Pair(text);
  if (!pair) return false;
  const auto value = Number(pair->second, max);
  return value && AddFault(s, kind, pair->first, static_cast<int>(*value));
}

// The value a name stands for in a table of names.
template <typename T, std::size_t N>
std::optional<T> Lookup(const std::pair<std::string_view, T> (&table)[N], std::string_view name) {
  for (const auto& [key, value] : table) {
    if (key == name) return value;
  }
  return std::nullopt;
}

// The answer damages that --fault names.
std::optional<sim::FaultKind> DamageKind(std::string_view name) {
  static constexpr std::pair<std::string_view, sim::FaultKind> kKinds[] = {
      {"echo-code", sim::FaultKind::EchoRequestCode},
      {"bad-preamble", sim::FaultKind::BadPreamble},
      {"bad-frame-type", sim::FaultKind::BadFrameType},
      {"bad-direction", sim::FaultKind::BadDirection},
      {"bad-magic", sim::FaultKind::BadMagic},
      {"no-text-end", sim::FaultKind::NoTextEnd},
      {"short", sim::FaultKind::ShortDatagram},
      {"empty", sim::FaultKind::EmptyDatagram},
      {"oversize", sim::FaultKind::OversizeDatagram},
      {"other-address", sim::FaultKind::OtherAddress},
  };
  return Lookup(kKinds, name);
}

// The line damages that --line-fault names.
std::optional<sim::LineFault> LineDamageKind(std::string_view name) {
  static constexpr std::pair<std::string_view, sim::LineFault> kKinds[] = {
      {"bad-checksum", sim::LineFault::BadChecksum},
      {"noise", sim::LineFault::Noise},
      {"pieces", sim::LineFault::Pieces},
      {"two-answers", sim::LineFault::TwoAnswers},
      {"no-terminator", sim::LineFault::NoTerminator},
  };
  return Lookup(kKinds, name);
}

// The serial options, made on first use so that the serial options combine in any order.
sim::SerialServer::Options& SerialOptions(Settings& s) {
  if (!s.serial) s.serial.emplace();
  return *s.serial;
}

// A line fault for one command (its key) or for every command ("all").
bool AddLineFault(Settings& s, std::string_view text) {
  const auto pair = Pair(text);
  const auto kind = pair ? LineDamageKind(pair->first) : std::nullopt;
  if (!kind) return false;
  sim::SerialFault fault{*kind, std::nullopt, 0, false};
  if (pair->second != "all") {
    const sim::CommandInfo* command = sim::FindCommand(pair->second);
    if (command == nullptr) return false;
    fault.command = command->base;
  }
  s.lineFaults.push_back(fault);
  return true;
}

struct Option {
  const char* name;  // nullptr: a heading of the help text
  const char* argument;
  const char* help;
  std::function<bool(Settings&, std::string_view)> apply;
};

const std::vector<Option>& Options() {
  using S = Settings;
  using V = std::string_view;
  static const std::vector<Option> options = {
      {nullptr, nullptr, "Where it answers:", nullptr},
      {"--address", "A.B.C.D", "address it answers on (default 127.0.0.2)",
       [](S& s, V v) { return (s.udp.address = v, true); }},
      {"--port", "N", "UDP port, the one in the tool's \"sample.ini\" (default 49152)",
       [](S& s, V v) { return SetNumber(s.udp.port, v, 65535); }},
      {"--other-address", "A.B.C.D",
       "where answers of the other-address fault come from (default 127.0.0.3)",
       [](S& s, V v) { return (s.udp.otherAddress = v, true); }},
      {nullptr, nullptr, "The adapter it pretends to be (Get Status, PLC Info Resolution):", nullptr},
      {"--mode", "master|terminal", "runs as the network's master or as a terminal (default master)",
       [](S& s, V v) { return SetChoice(s.profile.status.master, v, "master", "terminal"); }},
      {"--authenticated", "yes|no", "whether the terminal is authenticated (default yes)",
       [](S& s, V v) { return SetChoice(s.profile.status.authenticated, v, "yes", "no"); }},
      {"--mac", "HEX12", "its MAC address as 12 hex digits (default 001122334455)",
       [](S& s, V v) {
         return SetMac(s.profile.status.mac, v) && SetMac(s.profile.identity.mac, v);
       }},
      {"--master-mac", "HEX12", "the master's MAC address, shown in terminal mode",
       [](S& s, V v) { return SetMac(s.profile.status.masterMac, v); }},
      {"--main-version", "TEXT", "main version text",
       [](S& s, V v) { return (s.profile.status.mainVersion = v, true); }},
      {"--boot-version", "TEXT", "boot version text",
       [](S& s, V v) { return (s.profile.status.bootVersion = v, true); }},
      {"--registered-info", "N", "Registered Info value",
       [](S& s, V v) { return SetNumber(s.profile.status.registeredInfo, v, 255); }},
      {"--ether-linkup", "N", "Ether LinkUp value",
       [](S& s, V v) { return SetNumber(s.profile.status.etherLinkUp, v, 255); }},
      {"--ether-spddpx", "N", "Ether SpdDpx value (0 to 65535)",
       [](S& s, V v) { return SetNumber(s.profile.status.etherSpdDpx, v, 65535); }},
      {"--multiple-mode", "N", "Multiple Mode value",
       [](S& s, V v) { return SetNumber(s.profile.status.multipleMode, v, 255); }},
      {"--beacon-status", "N", "Beacon Status value",
       [](S& s, V v) { return SetNumber(s.profile.status.beaconStatus, v, 255); }},
      {"--ip", "A.B.C.D", "IP address it reports (default 192.168.0.249)",
       [](S& s, V v) { return SetIpv4(s.profile.identity.ip, v); }},
      {"--subnet-mask", "A.B.C.D", "subnet mask it reports (default 255.255.255.0)",
       [](S& s, V v) { return SetIpv4(s.profile.identity.subnetMask, v); }},
      {"--model", "TEXT", "model name, up to 15 characters (default PLC-EMULATOR)",
       [](S& s, V v) { return (s.profile.identity.modelName = v, true); }},
      {"--command-version", "N", "command version number",
       [](S& s, V v) { return SetNumber(s.profile.identity.commandVersion, v, 0xFFFFFFFF); }},
      {"--option-flag", "N", "option flags number",
       [](S& s, V v) { return SetNumber(s.profile.identity.optionFlag, v, 0xFFFFFFFF); }},
      {nullptr, nullptr, "Other adapters of its powerline network (PLC Remote):", nullptr},
      {"--remote", "HEX12[=CODE]",
       "an authenticated terminal with this MAC address, with this adapter's versions and\n"
       "link values; with CODE it refuses Get Status with that result. A MAC address not\n"
       "listed gets relay result 2, a nested request other than Get Status relay result 3.",
       [](S& s, V v) {
         const auto pair = Pair(v);
         const auto mac = MacText(pair ? pair->first : v);
         std::uint8_t result = 0;
         if (!mac || (pair && !SetNumber(result, pair->second, 255))) return false;
         s.remotes.emplace_back(*mac, result);
         return true;
       }},
      {nullptr, nullptr, "Firmware update:", nullptr},
      {"--firmware-out", "FILE",
       "write each image received in full to FILE. Blocks out of order, with wrong counts\n"
       "or without FF fill behind the last image byte get result 4 and the update starts over.",
       [](S& s, V v) { return (s.firmwareOut = v, !v.empty()); }},
      {"--firmware-reject", "BLOCK=CODE", "refuse the block with this number with result CODE",
       [](S& s, V v) {
         const auto pair = Pair(v);
         return pair && SetNumber(s.profile.firmware.rejectBlock.emplace(), pair->first, 65535) &&
                SetNumber(s.profile.firmware.rejectResult, pair->second, 255);
       }},
      {"--firmware-delay", "MS", "answer the last block MS milliseconds late (writing memory)",
       [](S& s, V v) {
         std::uint32_t ms = 0;
         const bool ok = SetNumber(ms, v, 600000);
         s.profile.firmware.lastBlockDelay = std::chrono::milliseconds(ms);
         return ok;
       }},
      {nullptr, nullptr, "System command (tarvik):", nullptr},
      {"--reply", "COMMAND=TEXT",
       "answer the command line COMMAND with TEXT (may be given several times); any other\n"
       "command line is answered with \"done: \" and the line",
       [](S& s, V v) {
         const auto pair = Pair(v);
         if (pair) s.profile.systemReplies[std::string(pair->first)] = pair->second;
         return pair.has_value();
       }},
      {nullptr, nullptr,
       "Faults, for tests and training. COMMAND is status, info, relay, firmware, system,\n"
       "restart, or all:",
       nullptr},
      {"--result", "COMMAND=CODE", "refuse the command with this result byte (1 to 255; the system\n"
       "command has no result byte)",
       [](S& s, V v) { return AddValueFault(s, sim::FaultKind::Result, v, 255); }},
      {"--no-answer", "COMMAND", "never answer the command (the tool reports Failure:10009)",
       [](S& s, V v) { return AddFault(s, sim::FaultKind::NoAnswer, v, 0); }},
      {"--delay", "COMMAND=MS", "answer the command MS milliseconds late",
       [](S& s, V v) { return AddValueFault(s, sim::FaultKind::Delay, v, 600000); }},
      {"--fault", "KIND=COMMAND",
       "damage the answers to the command; KIND is echo-code (the request's code),\n"
       "bad-preamble, bad-frame-type, bad-direction, bad-magic, no-text-end (system\n"
       "command text without its end), short (9 bytes), empty, oversize (5000 bytes) or\n"
       "other-address (answered from --other-address)",
       [](S& s, V v) {
         const auto pair = Pair(v);
         const auto kind = pair ? DamageKind(pair->first) : std::nullopt;
         return kind && AddFault(s, *kind, pair->second, 0);
       }},
      {nullptr, nullptr,
       "Serial line, served instead of UDP (8 data bits, no parity, one stop bit):", nullptr},
      {"--serial", nullptr,
       "make a pseudo-terminal pair and answer on it; the name to put in \"PORT\" of\n"
       "[SERIAL] (\"pts/N\") is printed at start",
       [](S& s, V) { return (SerialOptions(s), true); }},
      {"--serial-device", "NAME",
       "answer on this serial port, named as in \"PORT\" (COM2 is /dev/ttyS1, ttyUSB1 is\n"
       "/dev/ttyUSB1), for a tool on another port wired to it by a null-modem cable",
       [](S& s, V v) { return (SerialOptions(s).device = v, !v.empty()); }},
      {"--rate", "N",
       "baud rate of --serial-device, any the port takes (default 115200; 0 keeps the\n"
       "port's rate)",
       [](S& s, V v) { return SetNumber(SerialOptions(s).rate, v, 0xFFFFFFFF); }},
      {"--line-fault", "KIND=COMMAND",
       "damage the answers to the command on the line; KIND is bad-checksum, noise (a byte\n"
       "before the Preamble), pieces (three pieces 150 ms apart), two-answers (the answer\n"
       "twice) or no-terminator. An answer after the tool's time-out is --delay.",
       [](S& s, V v) { return AddLineFault(s, v); }},
      {nullptr, nullptr, "Other:", nullptr},
      {"--parent-pid", "PID", "stop as soon as the process PID has ended",
       [](S& s, V v) {
         std::uint32_t pid = 0;
         const bool ok = SetNumber(pid, v, 0x7FFFFFFF) && pid > 0;
         s.parentPid = pid;
         return ok;
       }},
      {"--capture", "FILE",
       "record every datagram received and sent (with its addresses and ports), or every\n"
       "byte of the serial line, in FILE, a pcap file for Wireshark or tshark with the\n"
       "dissector (see the README's \"Reading the traffic\"); readable while it runs",
       [](S& s, V v) { return (s.capture = v, !v.empty()); }},
      {"--verbose", nullptr, "print one line per datagram or line frame received on standard error",
       [](S& s, V) { return (s.verbose = true, true); }},
      {"--help", nullptr, "show this text", [](S& s, V) { return (s.help = true, true); }},
  };
  return options;
}

void PrintHelp() {
  std::printf(
      "Usage: plc_adapter_emulator [options]\n"
      "\n"
      "Pretends to be a powerline adapter so that sample and tarvik can be tried without one.\n"
      "It answers their commands over UDP on ADDRESS:PORT, to the computer that asked, and\n"
      "runs until Ctrl-C. Point the tool at it with a \"sample.ini\" in the tool's folder:\n"
      "\n"
      "  [ETHERNET]\n"
      "  IP=127.0.0.2\n"
      "  PORT=49152\n"
      "  HOST_IP=127.0.0.1\n"
      "\n"
      "The tool and the emulator use the same port, each on its own loopback address.\n"
      "With --serial it answers on a serial line instead; put the port name it prints\n"
      "into \"sample.ini\":\n"
      "\n"
      "  [SERIAL]\n"
      "  PORT=pts/N\n");
  for (const Option& o : Options()) {
    if (o.name == nullptr) {
      std::printf("\n%s\n", o.help);
      continue;
    }
    std::string head = std::string("  ") + o.name + (o.argument ? std::string(" ") + o.argument : "");
    std::string help = o.help;
    for (std::size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += 1) {
      help.insert(at + 1, std::string(6, ' '));
    }
    std::printf("%s\n      %s\n", head.c_str(), help.c_str());
  }
}

// Options come as "--name value" or "--name=value".
bool Parse(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    std::optional<std::string_view> value;
    if (const auto eq = word.find('='); eq != std::string_view::npos) {
      value = word.substr(eq + 1);
      word = word.substr(0, eq);
    }
    const Option* option = nullptr;
    for (const Option& o : Options()) {
      if (o.name != nullptr && word == o.name) option = &o;
    }
    if (option == nullptr) {
      std::fprintf(stderr, "plc_adapter_emulator: unknown option %s (see --help)\n", argv[i]);
      return false;
    }
    if (option->argument != nullptr && !value) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "plc_adapter_emulator: %s needs %s\n", option->name, option->argument);
        return false;
      }
      value = argv[++i];
    }
    s.given.insert(option->name);
    if (!option->apply(s, value.value_or(""))) {
      std::fprintf(stderr, "plc_adapter_emulator: bad value for %s: %.*s (expected %s)\n",
                   option->name, static_cast<int>(value.value_or("").size()),
                   value.value_or("").data(), option->argument);
      return false;
    }
  }
  return true;
}

bool ProcessGone(long pid) { return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// Whether a file can be written at path (it exists and is writable, or its folder is).
bool Writable(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0) return access(path.c_str(), W_OK) == 0;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  return access(folder.c_str(), W_OK | X_OK) == 0;
}

bool IsUdpOnly(sim::FaultKind kind) {
  return kind == sim::FaultKind::ShortDatagram || kind == sim::FaultKind::EmptyDatagram ||
         kind == sim::FaultKind::OversizeDatagram || kind == sim::FaultKind::OtherAddress;
}

// What the options ask for that the emulator cannot do; empty when it can do it all. Options it
// would otherwise pass over or carry out only in part are refused, so a test or a lesson never
// runs on something other than what it asked for.
std::string Refusal(const Settings& s) {
  const auto given = [&s](std::string_view name) { return s.given.count(name) != 0; };
  if (s.serial) {
    for (const char* name : {"--address", "--port", "--other-address"}) {
      if (given(name)) {
        return std::string(name) + " sets the UDP side, which does not run with --serial";
      }
    }
    for (const sim::Fault& f : s.faults) {
      if (IsUdpOnly(f.kind)) {
        return "--fault short, empty, oversize and other-address damage datagrams, which a "
               "serial line does not carry (see --line-fault)";
      }
    }
  } else if (!s.lineFaults.empty()) {
    return "--line-fault damages the serial line: give --serial or --serial-device";
  }
  if (given("--rate") && (!s.serial || s.serial->device.empty())) {
    return "--rate sets the rate of --serial-device; a pseudo-terminal has none";
  }
  for (const sim::Fault& f : s.faults) {
    const bool system = f.command == CMD_SYSTEMCMD;
    if (f.kind == sim::FaultKind::Result && (system || f.value == 0)) {
      return system ? "the system command's answer has no result byte (--result system)"
                    : "--result needs a result from 1 to 255 (0 is success)";
    }
    if (f.kind == sim::FaultKind::NoTextEnd && f.command && !system) {
      return "no-text-end damages the system command's answer text only";
    }
  }
  struct Text {
    const char* option;
    const std::string& value;
    std::size_t longest;
  };
  const sim::StatusProfile& status = s.profile.status;
  for (const Text& t : {Text{"--main-version", status.mainVersion, status_record::kMainVersionSize - 1},
                        Text{"--boot-version", status.bootVersion, status_record::kBootVersionSize - 1},
                        Text{"--model", s.profile.identity.modelName,
                             identity_record::kModelNameSize - 1}}) {
    if (t.value.size() > t.longest) {
      return std::string(t.option) + " takes at most " + std::to_string(t.longest) + " characters";
    }
  }
  for (const auto& [command, reply] : s.profile.systemReplies) {
    if (reply.size() > sim::kMaxReplyText) {
      return "--reply texts take at most " + std::to_string(sim::kMaxReplyText) + " characters";
    }
  }
  if (s.profile.firmware.rejectBlock && *s.profile.firmware.rejectBlock >= FW_IMAGE_MAX / FW_BLOCK_SIZE) {
    return "--firmware-reject: an image has at most " + std::to_string(FW_IMAGE_MAX / FW_BLOCK_SIZE) +
           " blocks, numbered from 0";
  }
  if (!s.firmwareOut.empty() && !Writable(s.firmwareOut)) {
    return "cannot write --firmware-out " + s.firmwareOut;
  }
  if (s.parentPid != 0 && ProcessGone(s.parentPid)) {
    return "--parent-pid: no process " + std::to_string(s.parentPid);
  }
  return {};
}

// The command a frame carries, for the log.
std::string CommandText(std::span<const std::uint8_t> frame) {
  if (frame.size() < 26) return "too short for a frame";
  const unsigned code = frame[24] | (frame[25] << 8);
  const sim::CommandInfo* command = sim::FindCommand(static_cast<std::uint16_t>(code & ~1u));
  char text[64];
  std::snprintf(text, sizeof text, "%s (0x%04X)", command ? command->name : "unknown command",
                code);
  return text;
}

void LogDatagram(const sim::Datagram& d) {
  const std::span<const std::uint8_t> bytes(d.bytes);
  std::fprintf(stderr, "from %s:%u, %zu bytes: %s\n", d.fromAddress.c_str(), d.fromPort,
               d.bytes.size(),
               CommandText(bytes.subspan(std::min<std::size_t>(2, bytes.size()))).c_str());
}

void LogLineFrame(const sim::LineFrame& f) {
  std::fprintf(stderr, "line frame, %zu bytes: %s\n", f.line.size(),
               f.checksumOk ? CommandText(f.frame).c_str() : "damaged (checksum or length)");
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!Parse(argc, argv, settings)) return 2;
  if (settings.help) {
    PrintHelp();
    return 0;
  }
  if (const std::string refusal = Refusal(settings); !refusal.empty()) {
    std::fprintf(stderr, "plc_adapter_emulator: %s\n", refusal.c_str());
    return 2;
  }
  // Remote adapters are terminals of this adapter's network, with its versions and link values.
  for (const auto& [mac, result] : settings.remotes) {
    sim::RemoteAdapter remote{settings.profile.status, result};
    remote.status.master = false;
    remote.status.authenticated = true;
    remote.status.mac = mac;
    remote.status.masterMac = settings.profile.status.mac;
    settings.profile.remotes[mac] = remote;
  }
  if (!settings.firmwareOut.empty()) {
    settings.profile.firmware.onImage = [path = settings.firmwareOut](
                                            std::span<const std::uint8_t> image) {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(image.data()),
                static_cast<std::streamsize>(image.size()));
      std::fprintf(stderr, "firmware image of %zu bytes written to %s\n", image.size(),
                   path.c_str());
    };
  }

  // The handlers only note the request; the loop below stops the server and returns.
  struct sigaction sa {};
  sa.sa_handler = NoteStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  sim::Adapter adapter(settings.profile);
  for (const sim::Fault& fault : settings.faults) adapter.AddFault(fault);
  try {
    // Made first, so that it is closed only after the servers have stopped.
    std::optional<pcap::CaptureFile> capture;
    if (!settings.capture.empty()) {
      capture.emplace(settings.capture,
                      settings.serial ? pcap::CaptureLink::Serial : pcap::CaptureLink::Ipv4);
    }
    pcap::CaptureFile* const captureTo = capture ? &*capture : nullptr;
    std::optional<sim::UdpServer> udp;
    std::optional<sim::SerialServer> serial;
    if (settings.serial) {
      serial.emplace(adapter, *settings.serial, captureTo);
      for (const sim::SerialFault& fault : settings.lineFaults) serial->AddFault(fault);
      std::printf("plc_adapter_emulator: answering on a serial line; in \"sample.ini\" put\n"
                  "[SERIAL]\nPORT=%s\n(Ctrl-C stops it)\n",
                  serial->PortName().c_str());
    } else {
      udp.emplace(adapter, settings.udp, captureTo);
      std::printf("plc_adapter_emulator: answering on %s:%u (Ctrl-C stops it)\n",
                  settings.udp.address.c_str(), udp->Port());
    }
    if (capture) {
      std::printf("plc_adapter_emulator: recording the traffic in %s\n", settings.capture.c_str());
    }
    std::fflush(stdout);
    std::size_t logged = 0;
    while (g_stop == 0 && !(settings.parentPid != 0 && ProcessGone(settings.parentPid))) {
      const timespec step{0, 100 * 1000 * 1000};
      nanosleep(&step, nullptr);
      if (!settings.verbose) continue;
      if (udp) {
        for (const sim::Datagram& d : udp->ReceivedSince(logged)) LogDatagram(d);
      } else {
        for (const sim::LineFrame& f : serial->ReceivedSince(logged)) LogLineFrame(f);
      }
    }
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "plc_adapter_emulator: %s\n", e.what());
    return 1;
  }
  return 0;
}

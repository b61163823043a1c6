// The emulator program's command line: its options, their help, and what it refuses to start with.
#include "sim/options.h"

#include <arpa/inet.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <functional>
#include <string_view>

#include "extcmd/firmware_block.h"
#include "extcmd/records.h"
#include "sim/option_text.h"

namespace sim {
namespace {

constexpr const char* kProgram = "plc_adapter_emulator";

template <typename T>
bool SetNumber(T& field, std::string_view text, std::uint32_t max) {
  const auto value = ParseNumber(text, 0, max);
  if (value) field = static_cast<T>(*value);
  return value.has_value();
}

// 12 hexadecimal digits, first byte first.
std::optional<Mac> MacText(std::string_view text) {
  if (text.size() != 12) return std::nullopt;
  Mac mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const auto [end, error] =
        std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, mac[i], 16);
    if (error != std::errc{} || end != text.data() + 2 * i + 2) return std::nullopt;
  }
  return mac;
}

bool SetMac(Mac& field, std::string_view text) {
  const auto mac = MacText(text);
  if (mac) field = *mac;
  return mac.has_value();
}

bool SetIpv4(Ipv4& field, std::string_view text) {
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

bool SetText(std::string& field, std::string_view text) {
  field = text;
  return true;
}

// The serial options, made on first use so that the serial options combine in any order.
SerialServer::Options& SerialOptions(Settings& s) {
  if (!s.serial) s.serial.emplace();
  return *s.serial;
}

// Whether a file can be written at path (it exists and is writable, or its folder is).
bool Writable(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0) return access(path.c_str(), W_OK) == 0;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  return access(folder.c_str(), W_OK | X_OK) == 0;
}

// The text broken into lines of at most `width` characters, at blanks.
std::vector<std::string> Wrapped(std::string_view text, std::size_t width) {
  std::vector<std::string> lines(1);
  while (!text.empty()) {
    const std::size_t blank = text.find(' ');
    const std::string_view word = text.substr(0, blank);
    if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width) {
      lines.emplace_back();
    }
    lines.back() += (lines.back().empty() ? "" : " ") + std::string(word);
    text.remove_prefix(blank == std::string_view::npos ? text.size() : blank + 1);
  }
  return lines;
}

constexpr std::size_t kHelpWidth = 82;

// The help as the manual page shows it: the introduction, then each group's heading and its
// options, each on a line of its own with its help indented below it.
class HelpLayout : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    std::string out = app->get_description();
    for (const std::string& group : app->get_groups()) {
      out += "\n";
      for (const std::string& line : Wrapped(group, kHelpWidth)) out += line + "\n";
      for (const CLI::Option* o :
           app->get_options([&group](const CLI::Option* o) { return o->get_group() == group; })) {
        const std::string argument = o->get_type_name();
        out += "  " + o->get_name() + (argument.empty() ? "" : " " + argument) + "\n";
        for (const std::string& line : Wrapped(o->get_description(), kHelpWidth)) {
          out += "      " + line + "\n";
        }
      }
    }
    return out;
  }
};

constexpr const char* kIntroduction =
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
    "  PORT=pts/N\n";

// The options in the order of the help, each applied where it stands on the command line.
class Options {
 public:
  explicit Options(Settings& settings) : s_(settings) {
    app_.description(kIntroduction);
    app_.formatter(std::make_shared<HelpLayout>());
    app_.allow_extras();  // reported as unknown options, by their first word
    app_.set_help_flag();
  }

  void Group(const char* heading) { group_ = heading; }

  // An option with a value; `apply` takes it, false for a bad value.
  void Value(const char* name, const char* argument, const std::string& help,
             std::function<bool(std::string_view)> apply) {
    app_.add_option(
            name,
            [this, name, argument, apply = std::move(apply)](const CLI::results_t& values) {
              s_.given.insert(name);
              if (!apply(values.back())) {
                throw CLI::ValidationError(std::string("bad value for ") + name + ": " +
                                           values.back() + " (expected " + argument + ")");
              }
              return true;
            },
            help)
        ->type_name(argument)
        ->expected(1)
        ->trigger_on_parse()
        ->group(group_);
  }

  void Flag(const char* name, const std::string& help, std::function<void()> apply) {
    app_.add_flag_callback(
            name,
            [this, name, apply = std::move(apply)] {
              s_.given.insert(name);
              apply();
            },
            help)
        ->group(group_);
  }

  // A fault option: its value and help come from the fault table.
  void FaultOption(const char* name, const std::string& help) {
    const std::string argument = FaultArgument(name);
    const std::string expected = FaultArgument(name, true);
    app_.add_option(
            name,
            [this, name, expected](const CLI::results_t& values) {
              s_.given.insert(name);
              const auto fault = ParseFault(name, values.back());
              if (!fault) {
                throw CLI::ValidationError(std::string("bad value for ") + name + ": " +
                                           values.back() + " (expected " + expected + ")");
              }
              s_.faults.push_back(*fault);
              return true;
            },
            help)
        ->type_name(argument)
        ->expected(1)
        ->trigger_on_parse()
        ->group(group_);
  }
  // One of its own, with the help of its row.
  void FaultOption(const char* name) {
    const auto& faults = Faults();
    const auto row = std::find_if(faults.begin(), faults.end(), [name](const FaultInfo& f) {
      return f.option == std::string_view(name);
    });
    FaultOption(name, row->help);
  }

  void Help(const char* help) { app_.set_help_flag("--help", help)->group(group_); }

  CLI::App& App() { return app_; }

 private:
  Settings& s_;
  CLI::App app_{"", kProgram};
  std::string group_;
};

void Describe(Options& o, Settings& s) {
  using V = std::string_view;
  StatusProfile& status = s.profile.status;
  IdentityProfile& identity = s.profile.identity;
  o.Group("Where it answers:");
  o.Value("--address", "A.B.C.D", "address it answers on (default 127.0.0.2)",
          [&s](V v) { return SetText(s.udp.address, v); });
  o.Value("--port", "N", "UDP port, the one in the tool's \"sample.ini\" (default 49152)",
          [&s](V v) { return SetNumber(s.udp.port, v, 65535); });
  o.Value("--other-address", "A.B.C.D",
          "where answers of the other-address fault come from (default 127.0.0.3)",
          [&s](V v) { return SetText(s.udp.otherAddress, v); });

  o.Group("The adapter it pretends to be (Get Status, PLC Info Resolution):");
  o.Value("--mode", "master|terminal",
          "runs as the network's master or as a terminal (default master)",
          [&status](V v) { return SetChoice(status.master, v, "master", "terminal"); });
  o.Value("--authenticated", "yes|no", "whether the terminal is authenticated (default yes)",
          [&status](V v) { return SetChoice(status.authenticated, v, "yes", "no"); });
  o.Value("--mac", "HEX12", "its MAC address as 12 hex digits (default 001122334455)",
          [&status, &identity](V v) { return SetMac(status.mac, v) && SetMac(identity.mac, v); });
  o.Value("--master-mac", "HEX12", "the master's MAC address, shown in terminal mode",
          [&status](V v) { return SetMac(status.masterMac, v); });
  o.Value("--main-version", "TEXT", "main version text",
          [&status](V v) { return SetText(status.mainVersion, v); });
  o.Value("--boot-version", "TEXT", "boot version text",
          [&status](V v) { return SetText(status.bootVersion, v); });
  o.Value("--registered-info", "N", "Registered Info value",
          [&status](V v) { return SetNumber(status.registeredInfo, v, 255); });
  o.Value("--ether-linkup", "N", "Ether LinkUp value",
          [&status](V v) { return SetNumber(status.etherLinkUp, v, 255); });
  o.Value("--ether-spddpx", "N", "Ether SpdDpx value (0 to 65535)",
          [&status](V v) { return SetNumber(status.etherSpdDpx, v, 65535); });
  o.Value("--multiple-mode", "N", "Multiple Mode value",
          [&status](V v) { return SetNumber(status.multipleMode, v, 255); });
  o.Value("--beacon-status", "N", "Beacon Status value",
          [&status](V v) { return SetNumber(status.beaconStatus, v, 255); });
  o.Value("--ip", "A.B.C.D", "IP address it reports (default 192.168.0.249)",
          [&identity](V v) { return SetIpv4(identity.ip, v); });
  o.Value("--subnet-mask", "A.B.C.D", "subnet mask it reports (default 255.255.255.0)",
          [&identity](V v) { return SetIpv4(identity.subnetMask, v); });
  o.Value("--model", "TEXT", "model name, up to 15 characters (default PLC-EMULATOR)",
          [&identity](V v) { return SetText(identity.modelName, v); });
  o.Value("--command-version", "N", "command version number",
          [&identity](V v) { return SetNumber(identity.commandVersion, v, 0xFFFFFFFF); });
  o.Value("--option-flag", "N", "option flags number",
          [&identity](V v) { return SetNumber(identity.optionFlag, v, 0xFFFFFFFF); });

  o.Group("Other adapters of its powerline network (PLC Remote):");
  o.Value("--remote", "HEX12[=CODE]",
          "an authenticated terminal with this MAC address, with this adapter's versions and "
          "link values; with CODE it refuses Get Status with that result. A MAC address not "
          "listed gets relay result 2, a nested request other than Get Status relay result 3.",
          [&s](V v) {
            const auto pair = SplitPair(v);
            const auto mac = MacText(pair ? pair->first : v);
            std::uint8_t result = 0;
            if (!mac || (pair && !SetNumber(result, pair->second, 255))) return false;
            s.remotes.emplace_back(*mac, result);
            return true;
          });

  FirmwareSettings& firmware = s.profile.firmware;
  o.Group("Firmware update:");
  o.Value("--firmware-out", "FILE",
          "write each image received in full to FILE. Blocks out of order, with wrong counts "
          "or without FF fill behind the last image byte get result 4 and the update starts over.",
          [&s](V v) { return SetText(s.firmwareOut, v) && !v.empty(); });
  o.Value("--firmware-reject", "BLOCK=CODE", "refuse the block with this number with result CODE",
          [&firmware](V v) {
            const auto pair = SplitPair(v);
            return pair && SetNumber(firmware.rejectBlock.emplace(), pair->first, 65535) &&
                   SetNumber(firmware.rejectResult, pair->second, 255);
          });
  o.Value("--firmware-delay", "MS", "answer the last block MS milliseconds late (writing memory)",
          [&firmware](V v) {
            std::uint32_t ms = 0;
            const bool ok = SetNumber(ms, v, 600000);
            firmware.lastBlockDelay = std::chrono::milliseconds(ms);
            return ok;
          });

  o.Group("System command (tarvik):");
  o.Value("--reply", "COMMAND=TEXT",
          "answer the command line COMMAND with TEXT (may be given several times); any other "
          "command line is answered with \"done: \" and the line",
          [&s](V v) {
            const auto pair = SplitPair(v);
            if (pair) s.profile.systemReplies[std::string(pair->first)] = pair->second;
            return pair.has_value();
          });

  o.Group(
      "Faults, for tests and training. COMMAND is status, info, relay, firmware, system, "
      "restart, or all:");
  o.FaultOption("--result");
  o.FaultOption("--no-answer");
  o.FaultOption("--delay");
  o.FaultOption("--fault", "damage the answers to the command; KIND is " + KindList("--fault"));

  o.Group("Serial line, served instead of UDP (8 data bits, no parity, one stop bit):");
  o.Flag("--serial",
         "make a pseudo-terminal pair and answer on it; the name to put in \"PORT\" of "
         "[SERIAL] (\"pts/N\") is printed at start",
         [&s] { SerialOptions(s); });
  o.Value("--serial-device", "NAME",
          "answer on this serial port, named as in \"PORT\" (COM2 is /dev/ttyS1, ttyUSB1 is "
          "/dev/ttyUSB1), for a tool on another port wired to it by a null-modem cable",
          [&s](V v) { return SetText(SerialOptions(s).device, v) && !v.empty(); });
  o.Value("--rate", "N",
          "baud rate of --serial-device, any the port takes (default 115200; 0 keeps "
          "the port's rate)",
          [&s](V v) { return SetNumber(SerialOptions(s).rate, v, 0xFFFFFFFF); });
  o.FaultOption("--line-fault", "damage the answers to the command on the line; KIND is " +
                                    KindList("--line-fault") +
                                    ". An answer after the tool's time-out is --delay.");

  o.Group("Other:");
  o.Value("--parent-pid", "PID", "stop as soon as the process PID has ended", [&s](V v) {
    std::uint32_t pid = 0;
    const bool ok = SetNumber(pid, v, 0x7FFFFFFF) && pid > 0;
    s.parentPid = pid;
    return ok;
  });
  o.Value("--capture", "FILE",
          "record every datagram received and sent (with its addresses and ports), or every "
          "byte of the serial line, in FILE, a pcap file for Wireshark or tshark with the "
          "dissector (see the README's \"Reading the traffic\"); readable while it runs",
          [&s](V v) { return SetText(s.capture, v) && !v.empty(); });
  o.Flag("--verbose", "print one line per datagram or line frame received on standard error",
         [&s] { s.verbose = true; });
  o.Help("show this text");
}

}  // namespace

bool ProcessGone(long pid) { return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

std::variant<Settings, int> ReadCommandLine(int argc, const char* const* argv) {
  Settings settings;
  Options options(settings);
  Describe(options, settings);
  CLI::App& app = options.App();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ArgumentMismatch& e) {
    // Every option takes the word after it as its value, so only the last one can lack it.
    const CLI::Option* last = app.get_option_no_throw(argv[argc - 1]);
    if (last == nullptr) throw;
    std::fprintf(stderr, "%s: %s needs %s\n", kProgram, argv[argc - 1],
                 last->get_type_name().c_str());
    return 2;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    return 2;
  }
  if (const auto extra = app.remaining(); !extra.empty()) {
    std::fprintf(stderr, "%s: unknown option %s (see --help)\n", kProgram, extra.front().c_str());
    return 2;
  }
  if (const std::string refusal = Refusal(settings); !refusal.empty()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, refusal.c_str());
    return 2;
  }
  return settings;
}

// Options it would otherwise pass over or carry out only in part are refused, so a test or a
// lesson never runs on something other than what it asked for.
std::string Refusal(const Settings& s) {
  const auto given = [&s](std::string_view name) { return s.given.contains(name); };
  if (s.serial) {
    for (const char* name : {"--address", "--port", "--other-address"}) {
      if (given(name)) {
        return std::string(name) + " sets the UDP side, which does not run with --serial";
      }
    }
  }
  const Link link = s.serial ? Link::Serial : Link::Udp;
  for (const Fault& fault : s.faults) {
    if (std::string refusal = FaultRefusal(fault, link); !refusal.empty()) return refusal;
  }
  if (given("--rate") && (!s.serial || s.serial->device.empty())) {
    return "--rate sets the rate of --serial-device; a pseudo-terminal has none";
  }
  struct Text {
    const char* option;
    const std::string& value;
    std::size_t longest;
  };
  const StatusProfile& status = s.profile.status;
  for (const Text& t :
       {Text{"--main-version", status.mainVersion, status_record::kMainVersionSize - 1},
        Text{"--boot-version", status.bootVersion, status_record::kBootVersionSize - 1},
        Text{"--model", s.profile.identity.modelName, identity_record::kModelNameSize - 1}}) {
    if (t.value.size() > t.longest) {
      return std::string(t.option) + " takes at most " + std::to_string(t.longest) + " characters";
    }
  }
  for (const auto& [command, reply] : s.profile.systemReplies) {
    if (reply.size() > kMaxReplyText) {
      return "--reply texts take at most " + std::to_string(kMaxReplyText) + " characters";
    }
  }
  if (s.profile.firmware.rejectBlock &&
      *s.profile.firmware.rejectBlock >= FW_IMAGE_MAX / FW_BLOCK_SIZE) {
    return "--firmware-reject: an image has at most " +
           std::to_string(FW_IMAGE_MAX / FW_BLOCK_SIZE) + " blocks, numbered from 0";
  }
  if (!s.firmwareOut.empty() && !Writable(s.firmwareOut)) {
    return "cannot write --firmware-out " + s.firmwareOut;
  }
  if (s.parentPid != 0 && ProcessGone(s.parentPid)) {
    return "--parent-pid: no process " + std::to_string(s.parentPid);
  }
  return {};
}

}  // namespace sim

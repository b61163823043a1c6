// What one run of the script tool is asked to do: the command, its arguments and the link
// settings in effect ("sample.ini" as the tools read it, then the options over it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/entry.h"
#include "extcmd/commands.h"

namespace plcctl {

// The exit statuses: every command succeeded; one failed at an adapter or on the link; the
// command line or the settings were wrong, and nothing was sent. After a terminating signal the
// status is kSignalBase + the signal.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kSignalBase = 128;

enum class Command { Status, Identity, Remote, Firmware, SystemCommand, Restart, Settings };
enum class LinkKind { Udp, Serial };

struct Invocation {
  Command command = Command::Status;
  std::string commandName;  // as typed

  LinkKind link = LinkKind::Udp;
  console::LinkConfig config;         // the keys in effect
  std::vector<std::string> adapters;  // UDP: the adapters' addresses, in turn; "IP" first
  int timeoutMs = commands::kSampleTimeoutMs;
  bool json = false;
  bool quiet = false;
  std::string capture;  // pcap file, or empty

  // The command's arguments.
  std::string identityAddress;         // identity: the IPv4 text
  commands::Mac remoteMac{};           // remote
  std::uint16_t waitTime = 10;         // remote, in 100 ms steps
  std::vector<std::uint8_t> image;     // firmware: the file's bytes, read before anything is sent
  std::string systemLine;              // system-command: the words joined by blanks
  bool noWait = false;                 // restart
  std::optional<double> everySeconds;  // status --every
  std::optional<long> count;           // status --count

  // Where the results are told to come from: the serial port's name, or the adapters' addresses.
  std::vector<std::string> Targets() const;
};

// The outcome of reading the command line: an invocation to run, or the exit status to end with
// (0 after --help or --version; 2 after a usage or settings error, whose one-line message is
// already on standard error).
struct Parsed {
  std::optional<Invocation> invocation;
  int exitStatus = 0;
};
Parsed Parse(int argc, const char* const* argv);

// "IPv4" text as the options take it: four decimal numbers 0 to 255 joined by dots.
bool IsIpv4(const std::string& text);
// A MAC as 12 hex digits, or six two-digit pairs joined by ":" or by "-".
std::optional<commands::Mac> ParseMac(const std::string& text);

}  // namespace plcctl

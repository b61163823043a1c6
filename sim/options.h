// The emulator program's command line: its options, their help, and what it refuses to start with.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "sim/adapter.h"
#include "sim/faults.h"
#include "sim/serial_server.h"
#include "sim/udp_server.h"

namespace sim {

// What the emulator runs with.
struct Settings {
  UdpServer::Options udp{"127.0.0.2", 49152, "127.0.0.3"};
  AdapterProfile profile;
  std::vector<Fault> faults;
  std::optional<SerialServer::Options> serial;        // set: serve a serial line instead of UDP
  std::vector<std::pair<Mac, std::uint8_t>> remotes;  // MAC address, result
  std::string firmwareOut;
  std::string capture;  // pcap file of the traffic
  long parentPid = 0;
  bool verbose = false;
  std::set<std::string, std::less<>> given;  // the options on the command line
};

// The settings the command line asks for; or, when the run ends here, its exit status: 0 after
// the help (printed on standard output), 2 for an unknown option, a bad value or what the
// emulator cannot carry out (the reason printed on standard error).
std::variant<Settings, int> ReadCommandLine(int argc, const char* const* argv);

// What the settings ask for that the emulator cannot do; empty when it can do it all.
std::string Refusal(const Settings& settings);

// Whether the process has ended (--parent-pid).
bool ProcessGone(long pid);

}  // namespace sim

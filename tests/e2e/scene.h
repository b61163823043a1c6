// Test scenery: scratch folders, free loopback ports, a fake arp, and a tool facing the emulator.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/adapter.h"
#include "sim/serial_server.h"
#include "sim/udp_server.h"
#include "tests/e2e/pty_driver.h"

namespace e2e {

// Loopback addresses: the tool's, the emulator's (the "adapter"), and where answers from
// "another host" come from. Tests send nothing anywhere else.
inline constexpr const char* kToolAddress = "127.0.0.1";
inline constexpr const char* kAdapterAddress = "127.0.0.2";
inline constexpr const char* kOtherAddress = "127.0.0.3";

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A UDP port that is free on both the tool's and the emulator's address right now (the
// system picks it, so tests running in parallel get different ones).
std::uint16_t FreeUdpPort();

// What a running process holds, from /proc: its resident memory in KiB and its open
// descriptors; -1 when it cannot be read.
long ResidentKiB(int pid);
long OpenDescriptors(int pid);

// A stand-in for the system's arp in its own folder, to be put first on PATH: it records its
// arguments, prints "fake arp" and them on the console, changes nothing, takes the seconds
// given (as a slow system might) and exits with the status given.
class FakeArp {
 public:
  explicit FakeArp(const std::filesystem::path& parent, int exitStatus = 0, int seconds = 0);
  const std::filesystem::path& Dir() const { return dir_; }
  // A PATH with the fake first and only system folders without the real arp behind it.
  std::string SearchPath() const;
  // The arguments of every call so far, in order.
  std::vector<std::vector<std::string>> Calls() const;

 private:
  std::filesystem::path dir_;
};

// Sets an environment variable of this process for its lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Image bytes that differ from block to block, so a block lost, repeated or swapped shows.
sim::Bytes FirmwareImage(std::size_t size);
// Writes the bytes to dir/name and returns name (tools run in dir and open it by that name).
std::string WriteFile(const std::filesystem::path& dir, const std::string& name,
                      const sim::Bytes& bytes);

// A tool's world: a scratch folder holding "sample.ini", a fake arp first on PATH, and the
// emulator answering on the adapter's address with the same port the tool binds on its own;
// on request the same adapter also serves a serial line, a pseudo-terminal pair whose tool side
// "PORT" names, so the link chosen at the tool's prompt decides which way the requests take.
// The adapter can be configured and given faults at any time; it and the servers record what
// they received.
class ToolScene {
 public:
  struct Settings {
    bool arp = false;                  // "ARP" = 1 in "sample.ini"
    std::string mac = "0011AABBCCDD";  // "MAC"
    int arpExitStatus = 0;
    int arpSeconds = 0;           // how long the fake arp takes
    std::string extraIni;         // appended to "sample.ini" (other sections, keys)
    bool serial = false;          // the emulator's serial side, and "SERIAL" naming it
    std::uint32_t rate = 115200;  // "RATE"
    std::string serialKeys;       // more "SERIAL" keys, as "PARITY=2\n"
  };

  ToolScene() : ToolScene(Settings{}) {}
  explicit ToolScene(const Settings& settings);

  // The "sample.ini" this scene writes; tests may write another one.
  std::string DefaultIni() const;
  void WriteIni(const std::string& text) const;

  // Options that start a program in the scratch folder with the fake arp first on PATH.
  PtyProcess::Options Launch(const std::string& program) const;

  ScratchDir scratch;
  std::uint16_t port;
  sim::Adapter adapter;
  FakeArp arp;
  std::unique_ptr<sim::UdpServer> server;
  std::unique_ptr<sim::SerialServer> serialServer;  // with Settings::serial only

 private:
  Settings settings_;
};

}  // namespace e2e

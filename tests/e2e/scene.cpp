// Scratch folders, free ports, the fake arp and the tool-facing-emulator scene.
#include "tests/e2e/scene.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "tests/toolkit/fd.h"

namespace e2e {

sim::Bytes FirmwareImage(std::size_t size) {
  sim::Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + i / 1024);
  return b;
}

std::string WriteFile(const std::filesystem::path& dir, const std::string& name,
                      const sim::Bytes& bytes) {
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return name;
}

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/plc-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

long ResidentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

long OpenDescriptors(int pid) {
  std::error_code error;
  const std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd", error);
  if (error) return -1;
  return static_cast<long>(std::distance(fds, std::filesystem::directory_iterator{}));
}

std::uint16_t FreeUdpPort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const toolkit::UniqueFd tool = toolkit::BoundUdp(kToolAddress, 0);
    if (!tool) continue;
    sockaddr_in a{};
    socklen_t size = sizeof a;
    getsockname(tool.get(), reinterpret_cast<sockaddr*>(&a), &size);
    const std::uint16_t port = ntohs(a.sin_port);
    if (toolkit::BoundUdp(kAdapterAddress, port)) return port;
  }
  throw std::runtime_error("no free UDP port on the loopback addresses");
}

FakeArp::FakeArp(const std::filesystem::path& parent, int exitStatus, int seconds)
    : dir_(parent / "fake-bin") {
  std::filesystem::create_directories(dir_);
  const auto script = dir_ / "arp";
  std::ofstream(script) << "#!/bin/sh\n"
                           "# Stands in for the system's arp in tests: records, changes nothing.\n"
                           "log=\"${0%/*}/arp.calls\"\n"
                           "for word in \"$@\"; do printf '%s\\n' \"$word\" >> \"$log\"; done\n"
                           "printf '\\n' >> \"$log\"\n"
                           "echo \"fake arp $*\"\n"
                           "sleep "
                        << seconds << "\nexit " << exitStatus << "\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
}

std::string FakeArp::SearchPath() const { return dir_.string() + ":/usr/bin:/bin"; }

std::vector<std::vector<std::string>> FakeArp::Calls() const {
  std::vector<std::vector<std::string>> calls;
  std::ifstream in(dir_ / "arp.calls");
  std::vector<std::string> words;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) {
      calls.push_back(std::move(words));
      words.clear();
    } else {
      words.push_back(line);
    }
  }
  return calls;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) previous_ = old;
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ToolScene::ToolScene(const Settings& settings)
    : port(FreeUdpPort()),
      arp(scratch.Path(), settings.arpExitStatus, settings.arpSeconds),
      server(std::make_unique<sim::UdpServer>(
          adapter, sim::UdpServer::Options{kAdapterAddress, port, kOtherAddress})),
      serialServer(settings.serial
                       ? std::make_unique<sim::SerialServer>(adapter, sim::SerialServer::Options{})
                       : nullptr),
      settings_(settings) {
  WriteIni(DefaultIni());
}

std::string ToolScene::DefaultIni() const {
  std::ostringstream ini;
  if (serialServer) {
    ini << "[SERIAL]\n"
        << "PORT=" << serialServer->PortName() << "\n"
        << "RATE=" << settings_.rate << "\n"
        << settings_.serialKeys;
  }
  ini << "[ETHERNET]\n"
      << "IP=" << kAdapterAddress << "\n"
      << "PORT=" << port << "\n"
      << "HOST_IP=" << kToolAddress << "\n"
      << "ARP=" << (settings_.arp ? 1 : 0) << "\n"
      << "MAC=" << settings_.mac << "\n"
      << settings_.extraIni;
  return ini.str();
}

void ToolScene::WriteIni(const std::string& text) const {
  std::ofstream(scratch.Path() / "sample.ini", std::ios::binary) << text;
}

PtyProcess::Options ToolScene::Launch(const std::string& program) const {
  return {program, {}, scratch.Path().string(), {"PATH=" + arp.SearchPath()}};
}

}  // namespace e2e

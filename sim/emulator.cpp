// The emulator program's run: the adapter its settings describe, its transport, and its log.
#include "sim/emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "pcap/capture.h"
#include "platform/posix/unique_fd.h"

namespace sim {
namespace {

using plat::posix::UniqueFd;

// How often the run looks at the traffic to log, or at a parent it cannot wait on.
constexpr int kLookEveryMs = 100;

// The write end of the stop pipe, for the handler; -1 while no StopSignals exists.
std::atomic<int> g_stopWrite{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// Async-signal-safe: one byte into a non-blocking pipe, which then stays readable.
void NoteStop(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_stopWrite.load(), &byte, 1);
  errno = saved;
}

// While it exists, SIGINT and SIGTERM only make its pipe readable, so the run's wait ends at once
// and the servers stop (giving a serial device its settings back) before the program ends.
class StopSignals {
 public:
  StopSignals() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
      throw std::system_error(errno, std::generic_category(), "pipe");
    }
    read_.reset(ends[0]);
    write_.reset(ends[1]);
    g_stopWrite = write_.get();
    struct sigaction note {};
    note.sa_handler = NoteStop;
    sigemptyset(&note.sa_mask);
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &note, &previous_[i]);
  }
  ~StopSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
      sigaction(kSignals[i], &previous_[i], nullptr);
    }
    g_stopWrite = -1;
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  int Handle() const { return read_.get(); }

 private:
  static constexpr std::array<int, 2> kSignals = {SIGINT, SIGTERM};
  UniqueFd read_;
  UniqueFd write_;
  std::array<struct sigaction, kSignals.size()> previous_{};
};

// A descriptor that becomes readable when the process ends; none when the system has no such.
UniqueFd ProcessHandle(long pid) {
  return UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)));
}

// The command a frame carries, for the log.
std::string CommandText(std::span<const std::uint8_t> frame) {
  if (frame.size() < 26) return "too short for a frame";
  const unsigned code = frame[24] | (frame[25] << 8);
  const CommandInfo* command = FindCommand(static_cast<std::uint16_t>(code & ~1u));
  char text[64];
  std::snprintf(text, sizeof text, "%s (0x%04X)", command ? command->name : "unknown command",
                code);
  return text;
}

void LogDatagram(const Datagram& d) {
  const std::span<const std::uint8_t> bytes(d.bytes);
  std::fprintf(stderr, "from %s:%u, %zu bytes: %s\n", d.fromAddress.c_str(), d.fromPort,
               d.bytes.size(),
               CommandText(bytes.subspan(std::min<std::size_t>(2, bytes.size()))).c_str());
}

void LogLineFrame(const LineFrame& f) {
  std::fprintf(stderr, "line frame, %zu bytes: %s\n", f.line.size(),
               f.checksumOk ? CommandText(f.frame).c_str() : "damaged (checksum or length)");
}

// The profile with what the settings add to it: the remote adapters, the firmware file.
AdapterProfile ProfileOf(const Settings& settings) {
  AdapterProfile profile = settings.profile;
  // Remote adapters are terminals of this adapter's network, with its versions and link values.
  for (const auto& [mac, result] : settings.remotes) {
    RemoteAdapter remote{profile.status, result};
    remote.status.master = false;
    remote.status.authenticated = true;
    remote.status.mac = mac;
    remote.status.masterMac = profile.status.mac;
    profile.remotes[mac] = remote;
  }
  if (!settings.firmwareOut.empty()) {
    profile.firmware.onImage = [path = settings.firmwareOut](std::span<const std::uint8_t> image) {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(image.data()),
                static_cast<std::streamsize>(image.size()));
      std::fprintf(stderr, "firmware image of %zu bytes written to %s\n", image.size(),
                   path.c_str());
    };
  }
  return profile;
}

// Serves until a stop signal, or the parent named by --parent-pid ends; with --verbose it logs
// each request as it comes.
void ServeUntilStopped(const Settings& settings, const StopSignals& stop, const UdpServer* udp,
                       const SerialServer* serial) {
  const UniqueFd parent = settings.parentPid != 0 ? ProcessHandle(settings.parentPid) : UniqueFd();
  const bool look = settings.verbose || (settings.parentPid != 0 && !parent);
  std::size_t logged = 0;
  for (;;) {
    pollfd ends[2] = {{stop.Handle(), POLLIN, 0}, {parent.get(), POLLIN, 0}};
    const int ready = poll(ends, 2, look ? kLookEveryMs : -1);
    if (ready > 0 && (ends[0].revents != 0 || ends[1].revents != 0)) return;
    if (settings.parentPid != 0 && ProcessGone(settings.parentPid)) return;
    if (!settings.verbose) continue;
    if (udp != nullptr) {
      for (const Datagram& d : udp->ReceivedSince(logged)) LogDatagram(d);
    } else {
      for (const LineFrame& f : serial->ReceivedSince(logged)) LogLineFrame(f);
    }
  }
}

}  // namespace

int RunEmulator(const Settings& settings) {
  const StopSignals stop;
  Adapter adapter(ProfileOf(settings));
  for (const Fault& fault : settings.faults) adapter.AddFault(fault);
  try {
    // Made first, so that it is closed only after the servers have stopped.
    std::optional<pcap::CaptureFile> capture;
    if (!settings.capture.empty()) {
      capture.emplace(settings.capture,
                      settings.serial ? pcap::CaptureLink::Serial : pcap::CaptureLink::Ipv4);
    }
    pcap::CaptureFile* const captureTo = capture ? &*capture : nullptr;
    std::optional<UdpServer> udp;
    std::optional<SerialServer> serial;
    if (settings.serial) {
      serial.emplace(adapter, *settings.serial, captureTo);
      std::printf(
          "plc_adapter_emulator: answering on a serial line; in \"sample.ini\" put\n"
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

    ServeUntilStopped(settings, stop, udp ? &*udp : nullptr, serial ? &*serial : nullptr);
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "plc_adapter_emulator: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace sim

// The emulated adapter's serial side: takes stuffed request frames off a serial line and writes
// each answer back in the same line coding, on its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pcap/capture.h"
#include "sim/adapter.h"
#include "sim/serial_end.h"
#include "sim/traffic_log.h"

namespace sim {

// One frame as it came off the line.
struct LineFrame {
  Bytes line;       // the line bytes up to and including the end-of-frame byte
  Bytes frame;      // unstuffed, without checksum and end-of-frame byte
  bool checksumOk;  // a request with a wrong checksum is recorded but not answered
};

// Serves one line from construction (throws std::system_error when the line cannot be had) until
// Stop or destruction, which return within one read round (50 ms) or one pause step.
//
// With a capture file, the bytes go into it as they passed the line, one record per direction and
// burst: what came in until the line was quiet for a read round or the adapter answered, and
// each write of the adapter.
class SerialServer : public TrafficLog<LineFrame> {
 public:
  struct Options {
    std::string device;           // a port name ("ttyUSB1", "COM2"); empty: a new pty pair
    std::uint32_t rate = 115200;  // the device's baud rate (8 data bits, no parity, one stop bit)
  };

  SerialServer(Adapter& adapter, const Options& options, pcap::CaptureFile* capture = nullptr);
  ~SerialServer();
  SerialServer(const SerialServer&) = delete;
  SerialServer& operator=(const SerialServer&) = delete;

  void Stop();
  // What the tool's "PORT" must name to reach this line.
  const std::string& PortName() const { return line_->PortName(); }
  // The descriptor of the adapter's end. For a pair, terminal attribute requests on it reach the
  // tool's side, so the line settings a tool chose can be read back there.
  int LineHandle() const { return line_->NativeHandle(); }

  // A fault for the answers on this line, kept by the adapter with its others.
  void AddFault(const Fault& fault) { adapter_.AddFault(fault); }

 private:
  void Run();
  void Serve(Bytes line);
  // Sleeps for the pause; true when Stop was asked meanwhile.
  bool StopDuring(std::chrono::milliseconds pause) const;
  bool Send(std::span<const std::uint8_t> bytes);
  // Records the bytes taken in since the last call, if any, as one burst.
  void CaptureReceived();

  Adapter& adapter_;
  std::unique_ptr<SerialEnd> line_;
  std::atomic<bool> stop_{false};
  pcap::CaptureFile* capture_;
  Bytes burst_;  // received, not yet recorded

  std::thread thread_;
};

}  // namespace sim

// Records adapter traffic (the emulator's, or a tool's) in a classic pcap file that Wireshark and
// tshark read with the project's dissector.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace pcap {

// One end of a datagram: IPv4 address (network order, first number first) and port.
struct Endpoint {
  std::array<std::uint8_t, 4> address{};
  std::uint16_t port = 0;
};

// Which way serial bytes went; the first byte of each serial record's pseudo-header.
enum class LineDirection : std::uint8_t {
  ToAdapter = 0,    // sent by the tool, taken in by the adapter
  FromAdapter = 1,  // sent by the adapter
};

// A pcap file holds one link type for all its records: raw IPv4 packets for the UDP side, or
// serial bytes behind a 4-byte pseudo-header (direction, then 3 zero bytes) under the first
// private link type, which the dissector claims.
enum class CaptureLink : std::uint32_t {
  Ipv4 = 228,    // LINKTYPE_IPV4
  Serial = 147,  // LINKTYPE_USER0 (DLT_USER0)
};

inline constexpr std::size_t kSerialPseudoHeaderSize = 4;

// Creates (or empties) the file and writes the file header at construction; throws
// std::system_error when that fails. Each record goes to the file with one write, so the file is
// readable, complete up to its last record, while the program runs and after it was stopped.
// Thread-safe; a record that cannot be written is lost, the traffic itself is never held up.
class CaptureFile {
 public:
  CaptureFile(const std::string& path, CaptureLink link);
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // A UDP datagram as the IPv4 packet that carried it (UDP payloads beyond what one packet can
  // carry are cut). Only in an Ipv4 file.
  void Datagram(const Endpoint& from, const Endpoint& to, std::span<const std::uint8_t> payload);
  // Bytes that went over the serial line together in one direction. Only in a Serial file; a
  // burst longer than the file's record limit is split across records.
  void SerialBytes(LineDirection direction, std::span<const std::uint8_t> bytes);

 private:
  void Record(std::span<const std::uint8_t> packet);

  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  CaptureLink link_;
  std::unique_ptr<std::FILE, Closer> file_;
  std::mutex mutex_;
  std::uint16_t ipId_ = 0;
};

}  // namespace pcap

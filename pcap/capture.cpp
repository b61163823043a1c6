// Classic pcap records of datagrams (as raw IPv4 packets) and serial bursts.
#include "pcap/capture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <vector>

namespace pcap {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The largest record; an IPv4 packet cannot be longer.
constexpr std::uint32_t kSnapLength = 65535;
constexpr std::size_t kIpHeaderSize = 20;
constexpr std::size_t kUdpHeaderSize = 8;
constexpr std::size_t kMaxUdpPayload = kSnapLength - kIpHeaderSize - kUdpHeaderSize;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::uint8_t kTimeToLive = 64;

// pcap fields are written little-endian, with the magic number that says so.
void Le16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Le32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
// IP and UDP header fields are in network order.
void Be16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

// The Internet checksum: the ones' complement of the ones' complement sum of 16-bit words.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0) {
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    sum += static_cast<std::uint32_t>(bytes[i] << 8) | (i + 1 < bytes.size() ? bytes[i + 1] : 0);
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

// One record in one piece: written, then handed to the system at once, so a reader of the file
// never waits for a buffer to fill.
bool WriteAll(std::FILE* file, std::span<const std::uint8_t> bytes) {
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fflush(file) == 0 && written;
}

}  // namespace

CaptureFile::CaptureFile(const std::string& path, CaptureLink link)
    : link_(link), file_(std::fopen(path.c_str(), "wb")) {
  if (!file_) throw std::system_error(errno, std::generic_category(), "cannot create " + path);
  // Each record is flushed whole; the buffer holds the largest one, so it goes out in one write.
  std::setvbuf(file_.get(), nullptr, _IOFBF, 16 + kSnapLength);
  Bytes header;
  Le32(header, 0xA1B2C3D4);  // microsecond time stamps
  Le16(header, 2);           // format version 2.4
  Le16(header, 4);
  Le32(header, 0);  // time stamps are UTC
  Le32(header, 0);
  Le32(header, kSnapLength);
  Le32(header, static_cast<std::uint32_t>(link));
  if (!WriteAll(file_.get(), header)) {
    throw std::system_error(errno, std::generic_category(), "cannot write " + path);
  }
}

void CaptureFile::Record(std::span<const std::uint8_t> packet) {
  // Time stamps follow the order of the records.
  const std::lock_guard lock(mutex_);
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  Bytes record;
  record.reserve(16 + packet.size());
  Le32(record, static_cast<std::uint32_t>(micros / 1000000));
  Le32(record, static_cast<std::uint32_t>(micros % 1000000));
  Le32(record, static_cast<std::uint32_t>(packet.size()));
  Le32(record, static_cast<std::uint32_t>(packet.size()));
  record.insert(record.end(), packet.begin(), packet.end());
  WriteAll(file_.get(), record);
}

void CaptureFile::Datagram(const Endpoint& from, const Endpoint& to,
                           std::span<const std::uint8_t> payload) {
  if (link_ != CaptureLink::Ipv4) return;
  payload = payload.first(std::min(payload.size(), kMaxUdpPayload));
  const auto udpLength = static_cast<std::uint16_t>(kUdpHeaderSize + payload.size());
  Bytes packet;
  packet.reserve(kIpHeaderSize + udpLength);
  packet.push_back(0x45);  // IPv4, 5 words of header
  packet.push_back(0);
  Be16(packet, static_cast<std::uint16_t>(kIpHeaderSize + udpLength));
  {
    const std::lock_guard lock(mutex_);
    Be16(packet, ipId_++);
  }
  Be16(packet, 0);  // no fragments
  packet.push_back(kTimeToLive);
  packet.push_back(kProtocolUdp);
  Be16(packet, 0);  // header checksum, below
  packet.insert(packet.end(), from.address.begin(), from.address.end());
  packet.insert(packet.end(), to.address.begin(), to.address.end());
  const std::uint16_t ipSum = InternetChecksum(std::span(packet).first(kIpHeaderSize));
  packet[10] = static_cast<std::uint8_t>(ipSum >> 8);
  packet[11] = static_cast<std::uint8_t>(ipSum);

  Be16(packet, from.port);
  Be16(packet, to.port);
  Be16(packet, udpLength);
  Be16(packet, 0);  // checksum, below
  packet.insert(packet.end(), payload.begin(), payload.end());
  // The UDP checksum also covers a pseudo-header: both addresses, the protocol and the length.
  std::uint32_t pseudo = kProtocolUdp + udpLength;
  for (const auto& a : {from.address, to.address}) {
    pseudo += static_cast<std::uint32_t>((a[0] << 8) | a[1]) + ((a[2] << 8) | a[3]);
  }
  std::uint16_t udpSum = InternetChecksum(std::span(packet).subspan(kIpHeaderSize), pseudo);
  if (udpSum == 0) udpSum = 0xFFFF;  // 0 would mean "no checksum"
  packet[kIpHeaderSize + 6] = static_cast<std::uint8_t>(udpSum >> 8);
  packet[kIpHeaderSize + 7] = static_cast<std::uint8_t>(udpSum);
  Record(packet);
}

void CaptureFile::SerialBytes(LineDirection direction, std::span<const std::uint8_t> bytes) {
  if (link_ != CaptureLink::Serial) return;
  constexpr std::size_t kMaxPiece = kSnapLength - kSerialPseudoHeaderSize;
  while (!bytes.empty()) {
    const std::span<const std::uint8_t> piece = bytes.first(std::min(bytes.size(), kMaxPiece));
    Bytes packet{static_cast<std::uint8_t>(direction), 0, 0, 0};
    packet.insert(packet.end(), piece.begin(), piece.end());
    Record(packet);
    bytes = bytes.subspan(piece.size());
  }
}

}  // namespace pcap

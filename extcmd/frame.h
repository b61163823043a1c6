// Command frame layout, command codes, checksum and answer checks: pure functions on byte buffers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Command base codes; a request carries base | 1, the answer (request & 0xFFF2) | 2.
inline constexpr std::uint16_t CMD_GET_STATUS = 0xA140;
inline constexpr std::uint16_t CMD_INFO_RESOLUTION = 0xB000;
inline constexpr std::uint16_t CMD_RELAY = 0x3000;
inline constexpr std::uint16_t CMD_FW_UPDATE = 0x5000;
inline constexpr std::uint16_t CMD_SYSTEMCMD = 0xDFF0;
inline constexpr std::uint16_t CMD_RESET_SYS = 0x4000;

namespace frame {

inline constexpr std::array<std::uint8_t, 8> kPreamble = {0xAA, 0xAA, 0xAA, 0xAA,
                                                          0xAA, 0xAA, 0xAA, 0xAB};
inline constexpr std::uint8_t kFrameType = 3;
inline constexpr std::uint16_t kDirRequest = 0xF001;
inline constexpr std::uint16_t kDirAnswer = 0xF002;
inline constexpr std::uint32_t kMagic = 0x0B4E7E67;

// Header field offsets from the frame start.
inline constexpr std::size_t kOffFrameType = 8;
inline constexpr std::size_t kOffFrameLength = 10;
inline constexpr std::size_t kOffDirection = 12;
inline constexpr std::size_t kOffBodyLength = 16;
inline constexpr std::size_t kOffMagic = 20;
inline constexpr std::size_t kOffCommand = 24;
inline constexpr std::size_t kHeaderSize = 28;
// FrameLength counts from this offset; the serial checksum covers the same bytes.
inline constexpr std::size_t kFrameLengthBase = 12;
// On the serial link the 16-bit checksum follows the data.
inline constexpr std::size_t kChecksumSize = 2;
// A UDP datagram is two zero bytes and then the frame up to its last data byte, so over UDP the
// frame is built at buffer offset 2.
inline constexpr std::size_t kDatagramLead = 2;
// A nested (relayed) frame starts 20 data bytes into its outer frame.
inline constexpr std::size_t kRelayHeaderSize = 20;
inline constexpr std::size_t kInnerFrameOffset = kHeaderSize + kRelayHeaderSize;

// Codes of the answer checks, in the order the checks run.
inline constexpr int kErrPreamble = 10201;
inline constexpr int kErrFrameType = 10202;
inline constexpr int kErrDirection = 10203;
inline constexpr int kErrMagic = 10204;
inline constexpr int kErrCommand = 10205;
inline constexpr int kErrChecksum = 10206;

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The answer code a request code waits for.
constexpr std::uint16_t AnswerCode(std::uint16_t requestCode) {
  return static_cast<std::uint16_t>((requestCode & 0xFFF2) | 2);
}

// XOR of the bytes taken as big-endian 16-bit words (an odd last byte as a high byte), byte
// swapped: stored little-endian, the first checksum byte is the XOR of the bytes at even
// distance from the start, the second that of the bytes at odd distance.
std::uint16_t Checksum(std::span<const std::uint8_t> bytes);

// Writes Preamble, FrameType, Direction, Magic and CommandCode (as given) at frame[0..27];
// lengths and reserved bytes are left as they are.
void WriteHeader(std::uint8_t* frame, std::uint16_t direction, std::uint16_t commandCode);
// BodyLength = n + 8 and FrameLength = n + 16 (kept in 16 bits) for n data bytes.
void SetLengths(std::uint8_t* frame, std::uint32_t dataLength);

// Checks an answer frame in order: preamble, frame type, direction, magic, command code.
// Returns 0 when they pass, else the code of the first check that fails. The span must hold at
// least the 28 header bytes.
int CheckHeader(std::span<const std::uint8_t> frame, std::uint16_t expectedCode);

}  // namespace frame

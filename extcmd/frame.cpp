// Frame header writing, checksum and answer checks.
#include "extcmd/frame.h"

#include <algorithm>

namespace frame {

std::uint16_t Checksum(std::span<const std::uint8_t> bytes) {
  std::uint16_t word = 0;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    word ^= static_cast<std::uint16_t>((bytes[i] << 8) | bytes[i + 1]);
  }
  if (i < bytes.size()) word ^= static_cast<std::uint16_t>(bytes[i] << 8);
  return static_cast<std::uint16_t>((word >> 8) | (word << 8));
}

void WriteHeader(std::uint8_t* frame, std::uint16_t direction, std::uint16_t commandCode) {
  std::copy(kPreamble.begin(), kPreamble.end(), frame);
  frame[kOffFrameType] = kFrameType;
  Put16(frame + kOffDirection, direction);
  Put32(frame + kOffMagic, kMagic);
  Put16(frame + kOffCommand, commandCode);
}

void SetLengths(std::uint8_t* frame, std::uint32_t dataLength) {
  Put32(frame + kOffBodyLength, dataLength + 8);
  Put16(frame + kOffFrameLength, static_cast<std::uint16_t>(dataLength + 16));
}

int CheckHeader(std::span<const std::uint8_t> f, std::uint16_t expectedCode) {
  if (!std::equal(kPreamble.begin(), kPreamble.end(), f.begin())) return kErrPreamble;
  if (f[kOffFrameType] != kFrameType) return kErrFrameType;
  if (Get16(&f[kOffDirection]) != kDirAnswer) return kErrDirection;
  if (Get32(&f[kOffMagic]) != kMagic) return kErrMagic;
  if (Get16(&f[kOffCommand]) != expectedCode) return kErrCommand;
  return 0;
}

}  // namespace frame

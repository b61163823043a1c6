// Byte stuffing and unstuffing of serial line frames, and the receive time-out rule.
#include "extcmd/serial_coding.h"

#include <algorithm>

#include "extcmd/frame.h"

namespace serial_line {

std::vector<std::uint8_t> Body(std::span<const std::uint8_t> frame) {
  const std::size_t length = frame::Get16(&frame[frame::kOffFrameLength]);
  const std::size_t size = frame::kFrameLengthBase + length;
  std::vector<std::uint8_t> body(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(size));
  const std::uint16_t sum = frame::Checksum(frame.subspan(frame::kFrameLengthBase, length));
  body.push_back(static_cast<std::uint8_t>(sum));
  body.push_back(static_cast<std::uint8_t>(sum >> 8));
  return body;
}

std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> body) {
  std::vector<std::uint8_t> line;
  line.reserve(body.size() + body.size() / 8 + 1);
  for (const std::uint8_t b : body) {
    const Escaped e = Escape(b);
    line.insert(line.end(), e.bytes.begin(), e.bytes.begin() + static_cast<std::ptrdiff_t>(e.size));
  }
  line.push_back(SERIAL_TERMINATOR);
  return line;
}

Unescaped Unescape(std::span<const std::uint8_t> line, std::span<std::uint8_t> dest) {
  bool escaped = false;
  return Unescape(line, dest, escaped);
}

Unescaped Unescape(std::span<const std::uint8_t> line, std::span<std::uint8_t> dest,
                   bool& escaped) {
  Unescaped r{0, 0, false};
  while (r.consumed < line.size() && r.stored < dest.size()) {
    const std::uint8_t b = line[r.consumed++];
    if (b == SERIAL_ESCAPE) {
      escaped = true;
    } else if (b == SERIAL_TERMINATOR) {
      dest[r.stored++] = b;
      r.terminated = true;
      break;
    } else {
      dest[r.stored++] = escaped ? static_cast<std::uint8_t>(b | 0x80) : b;
      escaped = false;
    }
  }
  return r;
}

bool StartsWithPreamble(std::span<const std::uint8_t> line) {
  return line.size() >= frame::kPreamble.size() &&
         std::equal(frame::kPreamble.begin(), frame::kPreamble.end(), line.begin());
}

bool TimedOut(std::uint32_t start, std::uint32_t now, std::int32_t limit) {
  std::uint32_t elapsed = now - start;
  if (static_cast<std::int32_t>(start) > static_cast<std::int32_t>(now)) --elapsed;
  return elapsed > 0xF0000000u || static_cast<std::int32_t>(elapsed) >= limit;
}

}  // namespace serial_line

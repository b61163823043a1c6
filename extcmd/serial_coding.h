// Serial line coding of frames (byte stuffing, end-of-frame byte, checksum placement) and the
// receive time-out rule: pure functions on byte buffers, shared by the link, the emulator and tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Ends every frame on the line; the port reports its arrival as the end-of-frame event.
inline constexpr std::uint8_t SERIAL_TERMINATOR = 0xA2;
// Marks that the next line byte stands for a byte with bit 7 set.
inline constexpr std::uint8_t SERIAL_ESCAPE = 0xA3;

namespace serial_line {

// Inside a frame body on the line 0xA2 never occurs and 0xA3 only as the escape mark.
struct Escaped {
  std::array<std::uint8_t, 2> bytes;
  std::size_t size;
  std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

// The line bytes that carry one body byte: A2 -> A3 22, A3 -> A3 23, any other byte itself.
constexpr Escaped Escape(std::uint8_t b) {
  if (b == SERIAL_TERMINATOR || b == SERIAL_ESCAPE) {
    return {{SERIAL_ESCAPE, static_cast<std::uint8_t>(b & 0x7F)}, 2};
  }
  return {{b, 0}, 1};
}

// The body a frame travels as: its 12 + FrameLength bytes, then the checksum of the FrameLength
// bytes from offset 12, low byte first. The span must hold 12 + FrameLength bytes.
std::vector<std::uint8_t> Body(std::span<const std::uint8_t> frame);

// The line bytes of a body: every byte escaped, then one terminator.
std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> body);

struct Unescaped {
  std::size_t stored;    // bytes written to the destination, a stored terminator included
  std::size_t consumed;  // line bytes taken
  bool terminated;       // the terminator was reached and stored
};

// Undoes the stuffing as the receiver does: A3 sets a flag and stores nothing; A2 is stored
// and ends the frame, whether or not the flag is set; any other byte x is stored as x, or as
// x | 0x80 when the flag is set, which it then clears. Stops at the terminator, at the end of
// the line bytes or when the destination is full, whichever comes first; never reads or writes
// outside the two spans.
Unescaped Unescape(std::span<const std::uint8_t> line, std::span<std::uint8_t> dest);
// The same for line bytes taken in several blocks: the flag comes in as `escaped` and goes out
// there, so the blocks one after the other store what Unescape stores for all of them at once.
Unescaped Unescape(std::span<const std::uint8_t> line, std::span<std::uint8_t> dest, bool& escaped);

// The receive clears this much of the frame buffer before it waits; every answer of the tools
// fits in it.
inline constexpr std::size_t kRecvClearSize = 1468;

// Whether the bytes read begin with the 8 Preamble bytes (fewer bytes do not).
bool StartsWithPreamble(std::span<const std::uint8_t> line);

// The receive's time-out test on a 32-bit millisecond counter that wraps: elapsed = now - start
// (one less when start is greater than now as signed numbers); a negative-looking elapsed above
// 0xF0000000 or one that has reached the limit means the time is up.
bool TimedOut(std::uint32_t start, std::uint32_t now, std::int32_t limit);

}  // namespace serial_line

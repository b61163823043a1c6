// Helpers the fuzz targets share: turning leading input bytes into choices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "extcmd/frame.h"

namespace fuzz {

// Takes one byte off the front of the input as a choice (0 when the input is empty).
inline std::uint8_t TakeChoice(std::span<const std::uint8_t>& input) {
  if (input.empty()) return 0;
  const std::uint8_t b = input.front();
  input = input.subspan(1);
  return b;
}

// Writes a well-formed header over the first 28 bytes when there is room, so that inputs get
// past the header checks and reach what reads the data behind them.
inline void RepairHeader(std::span<std::uint8_t> frame, std::uint16_t direction,
                         std::uint16_t code) {
  if (frame.size() < frame::kHeaderSize) return;
  frame::WriteHeader(frame.data(), direction, code);
}

}  // namespace fuzz

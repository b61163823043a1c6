// Building and reading firmware block records.
#include "extcmd/firmware_block.h"

#include <algorithm>

#include "extcmd/frame.h"

namespace fwblock {
namespace {

constexpr std::size_t kOffBlockNumber = 0;
constexpr std::size_t kOffMoreFollows = 2;
constexpr std::size_t kOffByteCount = 4;
constexpr std::size_t kOffBlockData = 8;

}  // namespace

FirmwareBlock BlockOf(std::span<const std::uint8_t> image, std::size_t k) {
  const std::size_t start = k * FW_BLOCK_SIZE;
  const std::size_t remaining = image.size() - start;
  const bool more = remaining > FW_BLOCK_SIZE;
  const std::size_t count = more ? FW_BLOCK_SIZE : remaining;
  return {static_cast<std::uint16_t>(k), static_cast<std::uint16_t>(more ? 1 : 0),
          static_cast<std::uint32_t>(count), image.subspan(start, count)};
}

void Write(const FirmwareBlock& block, std::span<std::uint8_t, FW_BLOCK_RECORD_SIZE> data) {
  frame::Put16(&data[kOffBlockNumber], block.BlockNumber);
  frame::Put16(&data[kOffMoreFollows], block.MoreFollows);
  frame::Put32(&data[kOffByteCount], block.ByteCount);
  const auto bytes = block.BlockData.first(std::min(block.BlockData.size(), FW_BLOCK_SIZE));
  const auto rest = std::copy(bytes.begin(), bytes.end(), data.begin() + kOffBlockData);
  std::fill(rest, data.end(), std::uint8_t{0xFF});
}

FirmwareBlock Read(std::span<const std::uint8_t, FW_BLOCK_RECORD_SIZE> data) {
  const std::uint32_t count = frame::Get32(&data[kOffByteCount]);
  return {frame::Get16(&data[kOffBlockNumber]), frame::Get16(&data[kOffMoreFollows]), count,
          data.subspan(kOffBlockData, std::min<std::size_t>(count, FW_BLOCK_SIZE))};
}

}  // namespace fwblock

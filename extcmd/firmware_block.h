// The firmware block record that carries one 1024-byte piece of an image: pure layout functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Image bytes per block, and the most image bytes the tool reads from a file (832 blocks).
inline constexpr std::size_t FW_BLOCK_SIZE = 1024;
inline constexpr std::size_t FW_IMAGE_MAX = 0xD0000;
// The data area of every CMD_FW_UPDATE request: the 8 header bytes and a full block of data.
inline constexpr std::size_t FW_BLOCK_RECORD_SIZE = 8 + FW_BLOCK_SIZE;

// One block as the adapter sees it; in the data area the numbers are little-endian at offsets
// 0 (BlockNumber), 2 (MoreFollows) and 4 (ByteCount), the image bytes from offset 8.
struct FirmwareBlock {
  std::uint16_t BlockNumber;
  std::uint16_t MoreFollows;                // 1 while more than one block of image remains
  std::uint32_t ByteCount;                  // image bytes in this block, 1 to 1024
  std::span<const std::uint8_t> BlockData;  // those image bytes
};

namespace fwblock {

// The number of blocks an image of imageSize bytes goes out as.
constexpr std::size_t BlockCount(std::size_t imageSize) {
  return (imageSize + FW_BLOCK_SIZE - 1) / FW_BLOCK_SIZE;
}

// Block k (below BlockCount) of an image; only the last block has MoreFollows 0.
FirmwareBlock BlockOf(std::span<const std::uint8_t> image, std::size_t k);

// Writes the record into a data area; the bytes after the block's image bytes become 0xFF, so a
// short last block never carries what an earlier request left behind.
void Write(const FirmwareBlock& block, std::span<std::uint8_t, FW_BLOCK_RECORD_SIZE> data);

// Reads a record back; a ByteCount above FW_BLOCK_SIZE yields BlockData of the whole data part.
FirmwareBlock Read(std::span<const std::uint8_t, FW_BLOCK_RECORD_SIZE> data);

// Progress mark printed after the k-th accepted block (k >= 1) that is not the last: the marks
// make lines of a blank and 64 dots.
constexpr const char* ProgressMark(std::size_t k) {
  if (k % 64 == 0) return ".\n ";
  if (k == 1) return " .";
  return ".";
}

}  // namespace fwblock

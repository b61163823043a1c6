// Runs a fuzz target without libFuzzer: files named on the command line, then a fixed number of
// generated inputs (same seed every run, so a failure repeats).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "extcmd/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Mostly short inputs, some as long as a whole frame buffer and beyond; half of them start like
// a frame, so the checks behind the preamble are reached too.
std::vector<std::uint8_t> Generate(std::mt19937& rng) {
  static constexpr std::size_t kSizes[] = {0, 1, 8, 30, 64, 200, 1100, 4200};
  std::vector<std::uint8_t> input(
      std::uniform_int_distribution<std::size_t>(0, kSizes[rng() % std::size(kSizes)])(rng));
  // Bytes from a small alphabet that matters on the wire, or any byte.
  static constexpr std::uint8_t kSpecial[] = {0x00, 0xFF, 0xA2, 0xA3, 0xAA, 0xAB, 0x03, 0x01};
  // A quarter of the inputs hold no zero byte, so texts run to the end of what they are in.
  const bool noZero = rng() % 4 == 0;
  for (auto& b : input) {
    b = rng() % 3 == 0 ? kSpecial[rng() % std::size(kSpecial)] : static_cast<std::uint8_t>(rng());
    if (noZero && b == 0) b = 1;
  }
  if (rng() % 2 == 0 && input.size() > 1 + frame::kPreamble.size()) {
    std::copy(frame::kPreamble.begin(), frame::kPreamble.end(), input.begin() + 1);
  }
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  long runs = 1000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::strtol(argv[++i], nullptr, 10);
      continue;
    }
    std::ifstream in(argv[i], std::ios::binary);
    const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), {}};
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::mt19937 rng(20261209);
  for (long r = 0; r < runs; ++r) {
    const std::vector<std::uint8_t> input = Generate(rng);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%ld generated inputs run\n", runs);
  return 0;
}

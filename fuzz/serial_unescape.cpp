// Unstuffing received line bytes into buffers of any size stays inside both.
#include <cstdlib>
#include <vector>

#include "extcmd/serial_coding.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> input(data, size);
  // The first choice picks the destination: mostly the whole frame buffer, sometimes a small one.
  const std::uint8_t choice = fuzz::TakeChoice(input);
  std::vector<std::uint8_t> dest(choice < 128 ? 4096 : choice - 128);
  const auto result = serial_line::Unescape(input, dest);
  if (result.stored > dest.size() || result.consumed > input.size()) std::abort();
  if (result.terminated && (result.stored == 0 || dest[result.stored - 1] != 0xA2)) std::abort();
  return 0;
}

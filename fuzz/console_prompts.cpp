// What a technician types, however the input arrives, goes through the prompts the tools use
// (numbers, fixed-length MAC text, text of a length range) and the console's line reading, and
// an accepted answer always meets its prompt's rule and fits the caller's buffer exactly.
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/io.h"
#include "fuzz/fuzz_input.h"
#include "tests/unit/fixtures.h"

namespace {

struct NumberPrompt {
  int min;
  int max;
};
// The ranges the tools ask for: link, the two menus, the sub menu, the relay wait time.
constexpr std::array<NumberPrompt, 5> kNumbers = {{{0, 1}, {0, 4}, {0, 2}, {0, 1}, {1, 4095}}};

struct TextPrompt {
  int maxLength;
  int mode;
};
// IP address, MAC address, file name, system command line.
constexpr std::array<TextPrompt, 4> kTexts = {{{16, 1}, {12, 0}, {1024, 3}, {1024, 1}}};

// The input cut into reads of one size, as a pipe or a terminal might deliver it.
std::vector<std::string> Reads(std::span<const std::uint8_t> input, std::size_t size) {
  std::vector<std::string> reads;
  for (std::size_t at = 0; at < input.size(); at += size) {
    const auto piece = input.subspan(at, std::min(size, input.size() - at));
    reads.emplace_back(piece.begin(), piece.end());
  }
  return reads;
}

void AskText(const TextPrompt& p) {
  // Exactly the room the caller has: anything written past it is a fault the sanitizer sees.
  std::vector<char> out(static_cast<std::size_t>(p.maxLength) + 1);
  PromptText(out.data(), p.maxLength, "? ", p.mode);
  const std::size_t length = strnlen(out.data(), out.size());
  const bool fits = p.mode == 0 ? length == static_cast<std::size_t>(p.maxLength)
                                : length >= 1 && length <= static_cast<std::size_t>(p.maxLength);
  if (!fits) std::abort();
  if (p.mode == 0) {
    std::array<std::uint8_t, 6> mac{};
    HexToBytes(out.data(), p.maxLength, mac.data());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> input(data, size);
  const std::uint8_t choice = fuzz::TakeChoice(input);
  const std::uint8_t cut = fuzz::TakeChoice(input);
  testing_support::ScriptedStreams streams(Reads(input, cut == 0 ? 4096 : cut));
  console::StreamConsole io(streams);
  const console::ScopedIo use(io);
  try {
    // Prompts one after another, as a run of the tools asks them, until input ends.
    for (unsigned turn = choice;; turn = turn * 7 + 3) {
      if (turn % 2 == 0) {
        const NumberPrompt& p = kNumbers[(turn / 2) % kNumbers.size()];
        const int value = PromptNumber("? ", p.min, p.max);
        if (value < p.min || value > p.max) std::abort();
      } else {
        AskText(kTexts[(turn / 2) % kTexts.size()]);
      }
      if (turn % 3 == 0 && io.ReadKey() < 0) break;
    }
  } catch (const console::InputEnded&) {
    // Every run ends here: when the input does.
  }
  return 0;
}

// How the emulator's option values are written: numbers and KEY=VALUE pairs.
#include "sim/option_text.h"

#include <charconv>
#include <system_error>

namespace sim {

std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t min,
                                         std::uint32_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < min ||
      value > max) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::pair<std::string_view, std::string_view>> SplitPair(std::string_view text) {
  const auto eq = text.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::pair{text.substr(0, eq), text.substr(eq + 1)};
}

}  // namespace sim

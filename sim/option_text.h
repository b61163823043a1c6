// How the emulator's option values are written: numbers and KEY=VALUE pairs.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace sim {

// Decimal, or hexadecimal after 0x, from min to max.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t min,
                                         std::uint32_t max);

// "KEY=VALUE" split at its first '='.
std::optional<std::pair<std::string_view, std::string_view>> SplitPair(std::string_view text);

}  // namespace sim

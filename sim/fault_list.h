// Picking the faults that apply to a command, the same way for every kind of fault.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// Takes the faults for the command's base code (a fault without a command applies to every
// command); a one-shot fault leaves the list as it is taken. Fault needs `command` and `once`.
template <typename Fault>
std::vector<Fault> TakeFaultsFor(std::vector<Fault>& faults, std::uint16_t base) {
  std::vector<Fault> applied;
  for (auto it = faults.begin(); it != faults.end();) {
    if (it->command && *it->command != base) {
      ++it;
      continue;
    }
    applied.push_back(*it);
    it = it->once ? faults.erase(it) : it + 1;
  }
  return applied;
}

}  // namespace sim

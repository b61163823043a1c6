// plc_adapter_emulator: stands in for an adapter on the network so the tools can be tried without one.
#include <variant>

#include "sim/emulator.h"
#include "sim/options.h"

int main(int argc, char** argv) {
  auto settings = sim::ReadCommandLine(argc, argv);
  if (const int* status = std::get_if<int>(&settings)) return *status;
  return sim::RunEmulator(std::get<sim::Settings>(settings));
}

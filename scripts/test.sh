#!/usr/bin/env bash
# Builds with the given preset (default: "default") and runs its tests: every test, or for the
# "clang" preset (the whole tree built by clang) the unit tests.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
if [ "$preset" = windows ]; then
  # Cross-built Windows programs and tests, run under Wine; the Linux helpers they use (the
  # adapter emulator, the Wine driver) come from the default build.
  bash scripts/deps.sh windows
  cmake --preset default >/dev/null
  cmake --build --preset default --target plc_adapter_emulator wine_e2e_tests
  cmake --preset windows >/dev/null
  cmake --build --preset windows
  exec bash scripts/wine_session.sh ctest --preset windows
fi
extras=()
[ "$preset" != clang ] || extras=(clang)
bash scripts/deps.sh "${extras[@]}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

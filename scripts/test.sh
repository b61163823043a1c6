#!/usr/bin/env bash
# Builds with the given preset (default: "default") and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

#!/usr/bin/env bash
# Builds the optimised programs and prints the performance table (README, "Performance").
# "--short" is the run of about half a minute that CI makes; it prints the table and enforces
# nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target perf_table
build/release/bench/perf_table "$@"

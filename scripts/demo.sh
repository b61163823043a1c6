#!/usr/bin/env bash
# Builds the tools and starts the maintenance tool in a scratch folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release >/dev/null)
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
"$root/build/release/sample/sample"

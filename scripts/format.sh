#!/usr/bin/env bash
# Formats the tracked C++ sources with .clang-format (clang-format 14), or with --check only
# reports, as CI does, where a file differs from it (and fails).
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-apply}"
case "$mode" in
  apply | --check) ;;
  *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac
bash scripts/deps.sh lint
# Every tracked C++ file, none excepted: a layout kept by hand sits between clang-format off/on.
mapfile -t sources < <(git ls-files -- '*.cpp' '*.h')
if [ "$mode" = --check ]; then
  # Each finding names file:line:column; "scripts/format.sh" without arguments fixes them all.
  if ! clang-format-14 --dry-run -Werror "${sources[@]}"; then
    echo "format.sh: these files differ from .clang-format; scripts/format.sh formats them:" >&2
    for f in "${sources[@]}"; do
      clang-format-14 --dry-run -Werror "$f" 2>/dev/null || echo "  $f" >&2
    done
    exit 1
  fi
else
  clang-format-14 -i "${sources[@]}"
fi

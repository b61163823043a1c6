#!/usr/bin/env bash
# Runs a command (the Windows tests) with Wine set up for it: a fresh prefix in a scratch folder,
# no display and no install prompts, quiet, and one persistent wineserver for the whole run so
# that each test program starts quickly; the server is stopped and the prefix removed after.
set -euo pipefail
scratch="$(mktemp -d)"
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$WINEPREFIX"
wineserver -p
if ! wineboot --init >"$scratch/wineboot.log" 2>&1; then
  echo "wine_session: the Wine prefix could not be made:" >&2
  cat "$scratch/wineboot.log" >&2
  exit 1
fi
"$@"

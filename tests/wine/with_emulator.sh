#!/usr/bin/env bash
# Runs a command (a Windows test program under Wine) with the Linux adapter emulator answering on
# 127.0.0.2, on a UDP port the system chose, which the command finds in PLC_ADAPTER_PORT.
# Usage: with_emulator.sh EMULATOR [EMULATOR OPTION...] -- COMMAND...
set -euo pipefail
emulator="$1"
shift
options=()
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
  options+=("$1")
  shift
done
shift
log="$(mktemp)"
# The emulator also stops by itself should this script die without its clean-up.
"$emulator" --address 127.0.0.2 --port 0 --parent-pid $$ "${options[@]}" >"$log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$log"' EXIT
for _ in $(seq 100); do
  grep -q "answering on" "$log" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
port="$(sed -n 's/.*answering on 127\.0\.0\.2:\([0-9]*\).*/\1/p' "$log")"
if [ -z "$port" ]; then
  echo "with_emulator.sh: the emulator did not start:" >&2
  cat "$log" >&2
  exit 1
fi
PLC_ADAPTER_PORT="$port" "$@"

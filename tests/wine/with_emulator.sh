#!/usr/bin/env bash
# Runs a command (a Windows test program under Wine) with the Linux adapter emulator answering on
# 127.0.0.2, on a UDP port the system chose, which the command finds in PLC_ADAPTER_PORT; or,
# with the emulator option --serial, on a pseudo-terminal that the Wine prefix maps as a COM port
# for the run, whose name ("COM1nn") the command finds in PLC_ADAPTER_SERIAL_PORT.
# Usage: with_emulator.sh EMULATOR [EMULATOR OPTION...] -- COMMAND...
set -euo pipefail
emulator="$1"
shift
options=()
serial=""
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
  [ "$1" = "--serial" ] && serial=1
  options+=("$1")
  shift
done
shift
log="$(mktemp)"
com=""
# The emulator also stops by itself should this script die without its clean-up.
if [ -n "$serial" ]; then
  "$emulator" --parent-pid $$ "${options[@]}" >"$log" 2>&1 &
else
  "$emulator" --address 127.0.0.2 --port 0 --parent-pid $$ "${options[@]}" >"$log" 2>&1 &
fi
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$log"; [ -z "$com" ] || rm -f "$com"' EXIT
for _ in $(seq 100); do
  grep -q "Ctrl-C stops it" "$log" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
if [ -n "$serial" ]; then
  pts="$(sed -n 's/^PORT=pts\/\([0-9]*\)$/\1/p' "$log")"
  if [ -z "$pts" ] || [ -z "${WINEPREFIX:-}" ]; then
    echo "with_emulator.sh: no pseudo-terminal from the emulator, or no WINEPREFIX:" >&2
    cat "$log" >&2
    exit 1
  fi
  # A name of its own for each run, since test programs run side by side in one prefix: the
  # pseudo-terminal's number is unique while the emulator holds it.
  name="COM$((100 + pts))"
  com="$WINEPREFIX/dosdevices/${name,,}"
  ln -sfn "/dev/pts/$pts" "$com"
  PLC_ADAPTER_SERIAL_PORT="$name" "$@"
  exit
fi
port="$(sed -n 's/.*answering on 127\.0\.0\.2:\([0-9]*\).*/\1/p' "$log")"
if [ -z "$port" ]; then
  echo "with_emulator.sh: the emulator did not start:" >&2
  cat "$log" >&2
  exit 1
fi
PLC_ADAPTER_PORT="$port" "$@"

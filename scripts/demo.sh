#!/usr/bin/env bash
# Builds everything, starts the adapter emulator on 127.0.0.2, tours both tools against it and
# shows the script tool once.
#
# On a terminal the keyboard is yours after a short tour of what to type; when standard input is
# no terminal (CI, a pipe) every step of the tour is typed for you and the script ends with 0.
#   PLC_DEMO_PORT=N         the UDP port of the tools and the emulator (default 49152)
#   PLC_DEMO_BUILD=FOLDER   use the programs of this build folder and build nothing (the tests
#                           pass theirs); by default the demo builds build/release
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
port="${PLC_DEMO_PORT:-49152}"  # the same port on both loopback addresses, as with an adapter
remote=0011223344aa             # the other adapter of the emulator's powerline network
unknown=0011223344bb            # a MAC address the emulator does not know
reply="emulated adapter 1.0"    # its answer to the system command "show version"

scratch="$(mktemp -d)"
emulator_pid=""
cleanup() {
  if [ -n "$emulator_pid" ]; then
    kill "$emulator_pid" 2>/dev/null || true
    wait "$emulator_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

build="${PLC_DEMO_BUILD:-}"
if [ -z "$build" ]; then
  build="$root/build/release"
  bash "$root/scripts/deps.sh"
  echo "Building (build/release) ..."
  if ! (cd "$root" && cmake --preset release && cmake --build --preset release) >"$scratch/build.log" 2>&1; then
    cat "$scratch/build.log" >&2
    exit 1
  fi
fi
emulator="$build/sim/plc_adapter_emulator"
sample="$build/sample/sample"
tarvik="$build/tarvik/tarvik"
plcctl="$build/plcctl/plcctl"
for program in "$emulator" "$sample" "$tarvik" "$plcctl"; do
  [ -x "$program" ] || { echo "demo.sh: no program $program" >&2; exit 1; }
done

cd "$scratch"
cat >sample.ini <<EOF
[ETHERNET]
IP=127.0.0.2
PORT=$port
HOST_IP=127.0.0.1
EOF
# 4800 bytes: five blocks, the last one short, so the update with its pauses stays short.
printf 'PLC demo image.\n%.0s' $(seq 300) >firmware.bin

# The emulator also stops by itself should this script die without its clean-up.
"$emulator" --address 127.0.0.2 --port "$port" --ip 127.0.0.2 --remote "$remote" \
  --reply "show version=$reply" --firmware-out received.bin --parent-pid $$ >emulator.log 2>&1 &
emulator_pid=$!
for _ in $(seq 50); do
  grep -q "answering on" emulator.log && break
  kill -0 "$emulator_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "answering on" emulator.log; then
  echo "The adapter emulator did not start:" >&2
  cat emulator.log >&2
  exit 1
fi

# Runs a tool in the demo's folder: on a terminal for you, else with the steps typed for you
# ("key" stands for one key press).
run() {
  local program="$1" step
  shift
  if [ -t 0 ]; then
    echo "== Your turn; the lines above say what to type."
    "$program" || true
    return
  fi
  local shown=""
  for step in "$@"; do
    case "$step" in *" "*) shown+=" \"$step\"" ;; *) shown+=" $step" ;; esac
  done
  echo "== Typed for you:$shown"
  for step in "$@"; do
    if [ "$step" = key ]; then printf k; else printf '%s\n' "$step"; fi
  done | "$program"
  echo  # the tool's last prompt ends without a line end
}

echo
echo "== The adapter emulator answers on 127.0.0.2:$port as an adapter with MAC address"
echo "== 00-11-22-33-44-55; one more adapter, $remote, is in its powerline network."
echo "== The tools run in $scratch, with this sample.ini:"
cat sample.ini
echo
echo "== sample, the maintenance tool. Answer 0 (Ethernet), then at its menu:"
echo "   1  Get Status: the emulator's status (a key brings the menu back, after every screen)"
echo "   2  PLC Info Resolution: 127.0.0.2 (the emulator answers for any address)"
echo "   3  PLC Remote: 1 (Get Status), MAC address $remote, waitTime 10; 0 leaves its menu"
echo "   4  Update Firmware: firmware.bin (5 blocks); the tool pauses 10 s after the last one"
echo "   A failure: 3, 1, MAC address $unknown, waitTime 10: \"Failure:10207\", the adapter refused,"
echo "      and \"Result:2\", its reason: no adapter of its network has that MAC address"
echo "   0  Quit; tarvik follows"
run "$sample" 0 1 key 2 127.0.0.2 key 3 1 "$remote" 10 key 0 3 1 "$unknown" 10 key \
  4 firmware.bin 0
if [ -f received.bin ]; then
  if ! cmp -s firmware.bin received.bin; then
    echo "== The emulator received another image than firmware.bin" >&2
    exit 1
  fi
  echo "== The emulator received firmware.bin whole, all $(wc -c <firmware.bin) bytes."
fi

echo
echo "== tarvik, the command tool. Answer 0 (Ethernet), then at its menu:"
echo "   1  System Command: show version (answered with \"$reply\"; any other"
echo "      command line with \"done: \" and the line)"
echo "   2  Restart: the emulator confirms; the tool pauses 8 s while the adapter restarts"
echo "   0  Quit; the demo ends"
run "$tarvik" 0 1 "show version" key 2 key 0
echo
echo "== plcctl, the script tool: one command per run, from the options and sample.ini, with an"
echo "== exit status (0 done, 1 failed, 2 usage); --json gives the result as one JSON line."
if [ -t 0 ]; then
  echo "== Your turn: type what follows \"plcctl\" (e.g. --json status, identity 127.0.0.2,"
  echo "== remote $remote, --help); an empty line goes on."
  while read -r -e -p "plcctl " line && [ -n "$line" ]; do
    read -r -a words <<<"$line"
    "$plcctl" "${words[@]}" || echo "== exit status $?"
  done
else
  echo "== Typed for you: plcctl --json status"
  "$plcctl" --json status
fi
echo
echo "== Done; the emulator stops now. Its options (other values, faults): $emulator --help"

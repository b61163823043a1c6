#!/usr/bin/env bash
# Builds everything, starts the adapter emulator on 127.0.0.2 and the maintenance tool against it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
port="${PLC_DEMO_PORT:-49152}"  # the same port on both loopback addresses, as with an adapter

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

bash "$root/scripts/deps.sh"
echo "Building (build/release) ..."
if ! (cd "$root" && cmake --preset release && cmake --build --preset release) >"$scratch/build.log" 2>&1; then
  cat "$scratch/build.log" >&2
  exit 1
fi
emulator="$root/build/release/sim/plc_adapter_emulator"
sample="$root/build/release/sample/sample"

cat >"$scratch/sample.ini" <<EOF
[ETHERNET]
IP=127.0.0.2
PORT=$port
HOST_IP=127.0.0.1
EOF

# The emulator also stops by itself should this script die without its clean-up.
"$emulator" --address 127.0.0.2 --port "$port" --parent-pid $$ >"$scratch/emulator.log" 2>&1 &
emulator_pid=$!
for _ in $(seq 50); do
  grep -q "answering on" "$scratch/emulator.log" && break
  kill -0 "$emulator_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "answering on" "$scratch/emulator.log"; then
  echo "The adapter emulator did not start:" >&2
  cat "$scratch/emulator.log" >&2
  exit 1
fi

cd "$scratch"
echo
echo "== The adapter emulator answers on 127.0.0.2:$port; sample runs in $scratch"
echo "== with this sample.ini:"
cat sample.ini
echo "== First a Get Status, typed for you: 0 (Ether), 1 (Get Status), a key, 0 (Quit)"
printf '0\n1\nk0\n' | "$sample" || true
echo
if [ -t 0 ]; then
  echo "== Now your turn: choose 0 (Ether), then try the menu; 0 quits."
  "$sample" || true
fi
echo "== Done; the emulator stops now. Its options: $emulator --help"

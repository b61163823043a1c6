#!/usr/bin/env bash
# Makes the Debian package from a release build (build/package/*.deb), checks it with lintian,
# unpacks it into a scratch folder, checks its manual pages, and runs the unpacked sample, tarvik
# and plcctl against the unpacked emulator on loopback.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

scratch="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

bash scripts/deps.sh package
echo "== Making the package (build/package) ..."
rm -f build/package/*.deb
if ! cmake --workflow --preset package >"$scratch/build.log" 2>&1; then
  cat "$scratch/build.log" >&2
  exit 1
fi
debs=(build/package/*.deb)
deb="${debs[0]}"
echo "$deb"

# The only warning left is for packages meant for Debian's own archive, whose first upload
# closes the bug that asked for them; this package has no such bug.
echo "== lintian"
lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs "$deb"

echo "== Unpacked into a scratch folder"
dpkg-deb -x "$deb" "$scratch/root"
bin="$scratch/root/usr/bin"
for page in "$scratch"/root/usr/share/man/man*/*.gz; do
  warnings="$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1; mandoc -T lint -W warning "$page" 2>&1)" || true
  if [ -n "$warnings" ]; then
    echo "${page#"$scratch/root"}: $warnings" >&2
    exit 1
  fi
done
echo "manual pages render without warnings"

# Starts the unpacked emulator on address:port. Sets emulator_pid, and emulator_port to the port
# it answers on, or to nothing when it could not start there.
start_emulator() {
  local log="$scratch/emulator-$1-$2.log"
  "$bin/plc_adapter_emulator" --address "$1" --port "$2" --parent-pid $$ >"$log" 2>&1 &
  emulator_pid=$!
  pids+=("$emulator_pid")
  for _ in $(seq 50); do
    grep -q "answering on" "$log" && break
    kill -0 "$emulator_pid" 2>/dev/null || break
    sleep 0.1
  done
  emulator_port="$(sed -n "s/.*answering on $1:\([0-9]*\).*/\1/p" "$log")"
}

# The tool binds 127.0.0.1 and the emulator 127.0.0.2 on the same port: a first emulator finds a
# port free on the tool's address and holds it until the real one answers on it.
port=""
for _ in $(seq 20); do
  start_emulator 127.0.0.1 0
  probe_pid="$emulator_pid"
  if [ -n "$emulator_port" ]; then
    start_emulator 127.0.0.2 "$emulator_port"
    port="$emulator_port"
  fi
  kill "$probe_pid" 2>/dev/null || true
  wait "$probe_pid" 2>/dev/null || true
  [ -n "$port" ] && break
done
if [ -z "$port" ]; then
  echo "no UDP port free on both 127.0.0.1 and 127.0.0.2" >&2
  exit 1
fi

mkdir "$scratch/run"
cd "$scratch/run"
printf '[ETHERNET]\nIP=127.0.0.2\nPORT=%s\nHOST_IP=127.0.0.1\n' "$port" >sample.ini
echo "== The unpacked sample: Get Status from the emulator on 127.0.0.2:$port"
if ! printf '0\n1\nk0\n' | timeout 30 "$bin/sample" >sample.out ||
  grep -q "Failure" sample.out || ! grep -q "Main Version ........... EMU-MAIN" sample.out; then
  cat sample.out >&2
  exit 1
fi
sed -n '/ Mode /,/ Beacon Status /p' sample.out
echo "== The unpacked tarvik: System Command"
if ! printf '0\n1\nshow version\nk0\n' | timeout 30 "$bin/tarvik" >tarvik.out ||
  ! grep -q " done: show version" tarvik.out; then
  cat tarvik.out >&2
  exit 1
fi
grep " done: show version" tarvik.out
echo "== The unpacked plcctl: Get Status as JSON, and its bash completion"
if ! timeout 30 "$bin/plcctl" --json status >plcctl.out ||
  ! grep -q '"main_version":"EMU-MAIN' plcctl.out; then
  cat plcctl.out >&2
  exit 1
fi
cat plcctl.out
test -f "$scratch/root/usr/share/bash-completion/completions/plcctl"
echo "== Package $deb checked"

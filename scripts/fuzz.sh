#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a while (default 30 s)
# from its seed corpus in fuzz/corpus/<target>/; a crash, leak, time-out or sanitizer report
# fails, and the input that caused it is printed (base64) so it can join the corpus.
#   bash scripts/fuzz.sh [seconds] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
# Target and the longest input it is given: frames fit the 4096-byte buffer (a little more is
# tried); lines run past the 4095-character line limit; a "sample.ini" may be any size.
declare -A max_len=(
  [serial_unescape]=4200 [emulator_requests]=4200 [tool_answers]=4200
  [ini_reader]=16384 [console_prompts]=12000
)
targets=("$@")
((${#targets[@]})) || targets=(serial_unescape emulator_requests tool_answers ini_reader console_prompts)

bash scripts/deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
run() {
  local t="$1"
  mkdir -p "$scratch/$t"
  # New inputs go to the scratch folder; the committed corpus is only read.
  if "build/fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="${max_len[$t]}" -print_final_stats=1 -artifact_prefix="$scratch/$t-" \
      "$scratch/$t" "fuzz/corpus/$t" >"$scratch/$t.log" 2>&1; then
    echo "fuzz_$t: $(grep -o 'number_of_executed_units: [0-9]*' "$scratch/$t.log" | grep -o '[0-9]*') inputs in ${seconds} s, nothing found"
    return 0
  fi
  echo "fuzz_$t: FAILED" >&2
  tail -n 60 "$scratch/$t.log" >&2
  for artifact in "$scratch/$t-"*; do
    [ -f "$artifact" ] || continue
    echo "input $(basename "$artifact") (base64; add it to fuzz/corpus/$t/ once fixed):" >&2
    base64 "$artifact" >&2
  done
  return 1
}

# As many at a time as there are cores.
jobs_at_once="$(nproc)"
failed=0
pids=()
for t in "${targets[@]}"; do
  run "$t" &
  pids+=($!)
  if ((${#pids[@]} >= jobs_at_once)); then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit "$failed"

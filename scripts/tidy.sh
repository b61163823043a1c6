#!/usr/bin/env bash
# Runs clang-tidy 14 (.clang-tidy) over the product code of the default build, one process per
# core, and lists every finding once as file:line:column; fails when there is any. Arguments,
# when given, narrow the run to those folders or files (e.g. "scripts/tidy.sh sim console/ini.cpp").
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
bash scripts/deps.sh lint
db=build/default
# Configuring is enough: no source is generated, so the compile commands are all clang-tidy needs.
[ -f "$db/compile_commands.json" ] || cmake --preset default >/dev/null
# The product: the command library, the console, the two tools, the script tool (when there),
# the POSIX platform, the pcap writer and the emulator. Tests, bench and fuzz targets are not
# linted.
product=(extcmd console sample tarvik plcctl platform/posix pcap sim)
if (($#)); then product=("$@"); fi
pattern=$(printf '%s\n' "${product[@]%/}" | sed 's/[.]/[.]/g' | paste -sd'|')
mapfile -t sources < <(grep -o '"file": *"[^"]*"' "$db/compile_commands.json" |
  sed 's/^"file": *"//; s/"$//' | grep -E "^$root/($pattern)(/|\$)" | sort -u)
if ((${#sources[@]} == 0)); then
  echo "tidy.sh: no compiled source under: ${product[*]}" >&2
  exit 2
fi
log="$db/clang-tidy.log"
echo "tidy.sh: ${#sources[@]} sources, $(nproc) at a time; full text in $log"
# clang-tidy fails on a finding (WarningsAsErrors); xargs's status says whether any did.
status=0
printf '%s\0' "${sources[@]}" |
  xargs -0 -n1 -P"$(nproc)" clang-tidy-14 -p "$db" --quiet >"$log" 2>&1 || status=$?
# A finding in a header comes once per source that includes it: each is listed once.
findings=$(grep -E '^/[^:]+:[0-9]+:[0-9]+: (warning|error):' "$log" | sed "s|^$root/||; s/,-warnings-as-errors\]/]/" | sort -u || true)
if [ -n "$findings" ]; then
  echo "$findings"
  echo "tidy.sh: $(wc -l <<<"$findings") findings, by check:"
  grep -oE '\[[a-z0-9.-]+' <<<"$findings" | tr -d '[' | sort | uniq -c | sort -rn
  exit 1
fi
if ((status)); then
  cat "$log" >&2
  echo "tidy.sh: clang-tidy failed without a finding (see above)" >&2
  exit 1
fi
echo "tidy.sh: no finding"

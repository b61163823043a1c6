#!/usr/bin/env bash
# Runs a command (the Windows tests) with Wine set up for it: a fresh prefix in a scratch folder,
# no display and no install prompts, quiet, and one persistent wineserver for the whole run so
# that each test program starts quickly; the server is stopped and the prefix removed after.
# PLC_WINEDEBUG sets WINEDEBUG for a run that looks into Wine itself (e.g. "err+all").
set -euo pipefail
# Now and then Wine cannot map its shared data at the fixed address it needs, because address
# space randomisation has put something there ("failed to map the shared user data:
# c0000018"): the program then ends with status 1 before it runs. The whole session runs
# without randomisation (inherited by every program it starts), where that never happens.
if [ -z "${PLC_WINE_SESSION:-}" ]; then
  exec env PLC_WINE_SESSION=1 setarch "$(uname -m)" -R bash "$0" "$@"
fi
scratch="$(mktemp -d)"
export WINEPREFIX="$scratch/prefix" WINEDEBUG="${PLC_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
keeper=""
cleanup() {
  exec 3>&- 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -z "$keeper" ] || wait "$keeper" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$WINEPREFIX"
# The server writes a dump of its objects when it is stopped; it goes to a log, not the tests'.
wineserver -p 2>"$scratch/wineserver.log"
if ! wineboot --init >"$scratch/wineboot.log" 2>&1; then
  echo "wine_session: the Wine prefix could not be made:" >&2
  cat "$scratch/wineboot.log" >&2
  exit 1
fi
# Wine's desktop process (explorer.exe /desktop) ends a few seconds after the last program that
# used it. Started again without a display, it waits 10 s for the RPC service, and a console
# program started meanwhile reads none of its input: the first typed line of a test would
# then arrive 10 s late. A command prompt that waits for input all session long keeps the
# desktop (wineboot has just started it) in place.
mkfifo "$scratch/keeper.in"
wine cmd.exe <"$scratch/keeper.in" >/dev/null 2>&1 &
keeper=$!
exec 3>"$scratch/keeper.in"
"$@"

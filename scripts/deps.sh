#!/usr/bin/env bash
# Installs what building and testing need on Debian, when it is missing. With "windows": also the
# mingw-w64 cross-compiler and Wine, for the Windows build and its tests.
set -euo pipefail
packages=(cmake g++ ninja-build libgtest-dev libgmock-dev libbenchmark-dev)
windows_packages=(g++-mingw-w64-x86-64 googletest wine)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
updated=false
install() {  # install [apt-get option...] -- package...
  local options=()
  while [ "$1" != "--" ]; do options+=("$1"); shift; done
  shift
  ((${#@})) || return 0
  $updated || "${sudo_cmd[@]}" apt-get update -qq
  updated=true
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${options[@]}" "$@"
}

mapfile -t missing < <(missing_of "${packages[@]}")
install -- "${missing[@]}"
if [ "${1:-}" = windows ]; then
  # Wine without its recommended extras (no fonts, no desktop parts): the tests are headless.
  mapfile -t missing < <(missing_of "${windows_packages[@]}")
  install --no-install-recommends -- "${missing[@]}"
fi

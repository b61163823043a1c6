#!/usr/bin/env bash
# Installs what building and testing need on Debian, when it is missing; with "package", also what
# making and checking the Debian package needs.
set -euo pipefail
# groff-base and mandoc check the manual pages.
packages=(cmake g++ ninja-build libgtest-dev libgmock-dev libbenchmark-dev groff-base mandoc)
if [ "${1:-}" = package ]; then
  # dpkg-shlibdeps (dpkg-dev) and file serve CPack's Debian generator; lintian checks its package.
  packages+=(dpkg-dev file lintian)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

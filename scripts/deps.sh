#!/usr/bin/env bash
# Installs what building and testing need on Debian, when it is missing. Named extras add what
# one more job needs: "fuzz" (clang and its libFuzzer runtime), "windows" (the mingw-w64
# cross-compiler, GoogleTest's source and Wine, without their recommended extras: headless),
# "package" (making and checking the Debian package).
set -euo pipefail
# groff-base and mandoc check the manual pages; plcctl and the emulator read their options with
# CLI11, plcctl writes JSON with nlohmann-json (header-only, also for the Windows build).
packages=(cmake g++ ninja-build libgtest-dev libgmock-dev libbenchmark-dev groff-base mandoc
  libcli11-dev nlohmann-json3-dev)
# Installed with --no-install-recommends. tshark reads the emulator's captures back with the
# dissector in the tests; without what it recommends it brings no desktop parts.
lean=(tshark)
for extra in "$@"; do
  case "$extra" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    windows) lean+=(g++-mingw-w64-x86-64 googletest wine) ;;
    # dpkg-shlibdeps (dpkg-dev) and file serve CPack's Debian generator; lintian checks its package.
    package) packages+=(dpkg-dev file lintian) ;;
    *) echo "deps.sh: unknown extra $extra" >&2; exit 2 ;;
  esac
done
missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_lean < <(missing_of "${lean[@]}")
if ((${#missing[@]} + ${#missing_lean[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  # No question may stop the install (tshark's package asks who may capture): the defaults hold.
  install=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq)
  if ((${#missing[@]})); then "${install[@]}" "${missing[@]}"; fi
  if ((${#missing_lean[@]})); then "${install[@]}" --no-install-recommends "${missing_lean[@]}"; fi
fi

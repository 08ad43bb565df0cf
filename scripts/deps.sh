#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine (as root),
# and the real 7-Zip console tool for Windows from the npm package 7zip-bin into the build folder.
# One line per phase says what it installs and why.
#   deps.sh BUILD_ROOT
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_root="${1:?usage: deps.sh BUILD_ROOT}"
source "$root/scripts/arch.sh"

# Both compilers always: the release is i686 and its image is checked on every host.
build_packages=(cmake ninja-build mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
                nlohmann-json3-dev googletest)
wine_packages=(wine wine64)
arch_host_runs_32bit && wine_packages+=(wine32:i386)
bench_packages=(xvfb tigervnc-standalone-server openbox x11-utils x11-apps xdotool imagemagick fonts-liberation)
check_packages=(python3 python3-pefile python3-jsonschema curl openssl osslsigncode)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || printf '%s ' "$p"
  done
}

updated=no
install_phase() {  # what it is for; packages...
  local why=$1
  shift
  local missing
  missing=$(missing_of "$@")
  [ -n "$missing" ] || return 0
  echo "deps: installing $why: $missing"
  if [[ " $missing " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    updated=no  # the i386 package lists come with the new architecture
  fi
  if [ "$updated" = no ]; then
    apt-get update -qq
    updated=yes
  fi
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
}

install_phase "the MinGW-w64 compilers (i686 release, x86-64 for hosts without 32-bit code), CMake, Ninja, GoogleTest, JSON" \
  "${build_packages[@]}"
install_phase "Wine, which runs the Windows programs ($(arch_host_runs_32bit && echo "32- and 64-bit" || echo "64-bit only: this kernel runs no 32-bit code"))" \
  "${wine_packages[@]}"
install_phase "the display bench: Xvfb, Xvnc (a screen that changes its size) and a window manager, screenshots, clicks and keys, Arial's metric twin" \
  "${bench_packages[@]}"
install_phase "the checks from the Linux side: pefile, jsonschema, curl, openssl and osslsigncode" "${check_packages[@]}"
if ! command -v npm >/dev/null 2>&1; then
  echo "deps: installing npm, to fetch the real 7-Zip console tool"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq npm >/dev/null
fi

tools="$build_root/tools"
if [ ! -f "$tools/node_modules/7zip-bin/win/ia32/7za.exe" ] || [ ! -f "$tools/node_modules/7zip-bin/win/x64/7za.exe" ]; then
  echo "deps: fetching 7za.exe for Windows (npm package 7zip-bin, 32- and 64-bit)"
  mkdir -p "$tools"
  npm install --prefix "$tools" --no-audit --no-fund --silent 7zip-bin@5.2.0 >/dev/null
fi
test -f "$tools/node_modules/7zip-bin/win/ia32/7za.exe"
test -f "$tools/node_modules/7zip-bin/win/x64/7za.exe"

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
bench_packages=(xvfb tigervnc-standalone-server openbox x11-utils x11-apps xdotool imagemagick fonts-liberation)
check_packages=(python3 python3-pefile python3-jsonschema curl openssl osslsigncode)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || printf '%s ' "$p"
  done
}

updated=no
# A mirror caught mid-sync fails an index now and then ("File has unexpected size"): try again a few
# times, then go on with the lists it has; the install itself says whether a package is missing.
update_package_lists() {
  local attempt
  for attempt in 1 2 3; do
    apt-get update -qq && return 0
    echo "deps: the package lists did not all update (attempt $attempt of 3)"
    if [ "$attempt" -lt 3 ]; then sleep $((attempt * 5)); fi
  done
  return 0
}
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
    update_package_lists
    updated=yes
  fi
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
}

install_phase "the MinGW-w64 compilers (i686 release, x86-64 for hosts without 32-bit code), CMake, Ninja, GoogleTest, JSON" \
  "${build_packages[@]}"
install_phase "Wine, which runs the Windows programs" "${wine_packages[@]}"
# The release's own architecture, where the kernel runs it. Its packages come from a second
# architecture's lists, which a mirror mid-sync can leave out of step: then the x86-64 build runs
# the tests and the demo, as on a kernel without 32-bit code (scripts/arch.sh).
if arch_host_runs_32bit; then
  install_phase "32-bit Wine, which runs the release's i686 build" wine32:i386 ||
    echo "deps: 32-bit Wine (wine32:i386) could not be installed; the x86-64 build runs here instead"
fi
install_phase "the display bench: Xvfb, Xvnc (a screen that changes its size) and a window manager, screenshots, clicks and keys, Arial's metric twin" \
  "${bench_packages[@]}"
install_phase "the checks from the Linux side: pefile, jsonschema, curl, openssl and osslsigncode" "${check_packages[@]}"
if ! command -v npm >/dev/null 2>&1; then
  echo "deps: installing npm, to fetch the real 7-Zip console tool"
  update_package_lists
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

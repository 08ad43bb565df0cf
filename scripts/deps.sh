#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine (as root),
# and the real 7-Zip console tool for Windows from the npm package 7zip-bin into the build folder.
set -euo pipefail
build_dir="${1:?usage: deps.sh BUILD_DIR}"

packages=(cmake ninja-build mingw-w64 g++-mingw-w64-i686-posix wine wine32:i386 xvfb x11-utils x11-apps
          xdotool imagemagick fonts-liberation nlohmann-json3-dev googletest python3 python3-pefile curl npm)
missing=()
for p in "${packages[@]}"; do
  if [ "$p" = npm ] && command -v npm >/dev/null 2>&1; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

tool="$build_dir/tools/node_modules/7zip-bin/win/ia32/7za.exe"
if [ ! -f "$tool" ]; then
  mkdir -p "$build_dir/tools"
  npm install --prefix "$build_dir/tools" --no-audit --no-fund --silent 7zip-bin@5.2.0 >/dev/null
fi
test -f "$tool"

#!/usr/bin/env bash
# Configures and builds the loopback build used by the tests and the demo: every built-in address
# points at 127.0.0.1, where the tests and the demo start their own services.
#   build.sh BUILD_DIR     for the architecture BRIVON_ARCH names (i686 or x86_64)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="${1:?usage: build.sh BUILD_DIR}"
arch="${BRIVON_ARCH:?BRIVON_ARCH must name the architecture (i686 or x86_64)}"
source "$root/scripts/arch.sh"
tools="${BRIVON_BUILD_ROOT:-$root/build}/tools"
port="${BRIVON_TEST_PORT:-47321}"  # another port lets two builds test side by side
cmake -S "$root" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBRIVON_TEST_HOOKS=ON \
  -DBRIVON_7ZA_EXE="$tools/node_modules/7zip-bin/win/$(arch_npm_folder "$arch")/7za.exe" \
  -DBRIVON_TEST_PORT=$port \
  -DBRIVON_ARCHIVE_TOOL_URL="http://127.0.0.1:$port/parches/7za.exe" \
  -DBRIVON_UPDATE_PICTURE_URL="http://127.0.0.1:$port/borrar/fotoactualizacion.png" \
  -DBRIVON_CHECKIN_HOST=127.0.0.1 -DBRIVON_CHECKIN_PORT=$port \
  -DBRIVON_CHECKIN_PATH=/comprobador/checkin >/dev/null
# BRIVON_BUILD_TARGETS (space-separated) builds only those targets.
if [ -n "${BRIVON_BUILD_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build_dir" --target $BRIVON_BUILD_TARGETS
else
  cmake --build "$build_dir"
fi

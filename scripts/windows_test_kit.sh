#!/usr/bin/env bash
# Builds the Windows test kit: the suite's own Windows programs, packed with what they need so that
# a Windows desk runs them without this Wine session. Makes build/<arch>/brivon-pruebas-windows-<version>.zip:
#   ejecutar_pruebas.cmd   the runner (tests/kit/ejecutar_pruebas.cmd)
#   brivon.exe             the test build (loopback addresses, test hooks), with brivon_alert_preview.exe
#   7za.exe                the real 7-Zip console tool of the architecture
#   pruebas\               every GoogleTest program
#   herramientas\          the helper programs (stand-ins, sibling programs, pinned builds...)
#   firmados\              the signed fixtures, made here (tests/update/sign_fixtures.sh)
#   fuentes\tests\fixtures the pictures, RTF and documents the tests serve
# BRIVON_ARCH picks the architecture: i686 (the release's, the default) or x86_64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BRIVON_ARCH="${BRIVON_ARCH:-i686}"
case "$BRIVON_ARCH" in i686 | x86_64) ;; *) echo "BRIVON_ARCH must be i686 or x86_64, not '$BRIVON_ARCH'" >&2; exit 1 ;; esac
export BRIVON_BUILD_ROOT="${BRIVON_BUILD_ROOT:-$root/build}"
source "$root/scripts/arch.sh"
"$root/scripts/deps.sh" "$BRIVON_BUILD_ROOT"

build="$BRIVON_BUILD_ROOT/$BRIVON_ARCH"
echo "kit: building the $BRIVON_ARCH test build in $build"
"$root/scripts/build.sh" "$build" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name="brivon-pruebas-windows-$version"
stage="$build/kit/$name"
rm -rf "$stage"
mkdir -p "$stage/pruebas" "$stage/herramientas" "$stage/fuentes/tests"

# cmd reads its scripts line by line, CR LF.
sed 's/\r*$/\r/' "$root/tests/kit/ejecutar_pruebas.cmd" >"$stage/ejecutar_pruebas.cmd"
cp "$build/bin/brivon.exe" "$build/bin/brivon_alert_preview.exe" "$stage/"
cp "$BRIVON_BUILD_ROOT/tools/node_modules/7zip-bin/win/$(arch_npm_folder "$BRIVON_ARCH")/7za.exe" "$stage/"
cp "$build"/tests/bin/*.exe "$stage/pruebas/"
cp "$build"/tests/tools/*.exe "$stage/herramientas/"
cp -r "$root/tests/fixtures" "$stage/fuentes/tests/"
bash "$root/tests/update/sign_fixtures.sh" "$stage/firmados" \
  "$build/tests/tools/fixture_sibling_10_2_0_15.exe" "$build/tests/tools/fixture_sibling_65535_0_65535_1.exe"

# Packed by the real 7za.exe under Wine, in the architecture this host runs and a prefix of its own.
pack_arch=x86_64
arch_host_runs_32bit && [ ! -x /usr/lib/wine/wine64 ] && pack_arch=i686
zip="$build/$name.zip"
rm -f "$zip"
(
  export BRIVON_ARCH=$pack_arch BRIVON_BUILD_DIR="$BRIVON_BUILD_ROOT/kit-$pack_arch"
  source "$root/scripts/wine_session.sh"
  wine_session_prefix
  cd "$stage/.."
  wine "$BRIVON_BUILD_ROOT/tools/node_modules/7zip-bin/win/$(arch_npm_folder "$pack_arch")/7za.exe" \
    a -tzip -mx=9 "$name.zip" "$name" >/dev/null
  wineserver -w
)
mv "$stage/../$name.zip" "$zip"
echo "kit: $zip ($(du -h "$zip" | cut -f1)): unpack it on the desk and run ejecutar_pruebas.cmd"

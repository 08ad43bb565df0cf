#!/usr/bin/env bash
# Builds the release brivon.exe (i686, built-in addresses as released) twice, from two fresh copies
# of one commit in two differently named folders, some time apart, and compares the two images
# byte for byte. A support engineer confirms a desk's brivon.exe the same way: rebuild the
# published commit and compare.
#   bash scripts/reproducible_build.sh [COMMIT]   (default HEAD)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit="${1:-HEAD}"
"$root/scripts/deps.sh" "${BRIVON_BUILD_ROOT:-$root/build}" >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/brivon-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

build_copy() {  # folder
  local folder=$1
  mkdir -p "$folder/src"
  git -C "$root" archive "$commit" | tar -x -C "$folder/src"
  cmake -S "$folder/src" -B "$folder/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$folder/src/cmake/toolchain-i686-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBRIVON_BUILD_TESTS=OFF >/dev/null
  cmake --build "$folder/build" --target brivon >/dev/null
}

build_copy "$work/primera"
sleep 2  # a build time in the image would differ now
build_copy "$work/segunda-copia/en/otra/carpeta"
first="$work/primera/build/bin/brivon.exe"
second="$work/segunda-copia/en/otra/carpeta/build/bin/brivon.exe"
echo "commit $(git -C "$root" rev-parse "$commit")"
sha256sum "$first" "$second" | sed "s|$work/||"
if cmp -l "$first" "$second" >"$work/diferencias"; then
  echo "reproducible: both builds are byte for byte the same ($(stat -c %s "$first") bytes)"
else
  echo "NOT reproducible: $(wc -l <"$work/diferencias") bytes differ (offset, first, second in octal):" >&2
  head -20 "$work/diferencias" >&2
  exit 1
fi

#!/usr/bin/env bash
# Alert download and parser benchmark under Wine: time and peak private memory of
# FetchImage for a large picture and an enormous one, FetchText of an endless body (stopped by the cap), and the
# parser over documents of growing size. Usage: alert_resources_bench.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/arch.sh"
arch_choose
export BRIVON_BUILD_DIR="${1:-${BRIVON_BUILD_DIR:-$root/build/$BRIVON_ARCH}}"
cmake --build "$BRIVON_BUILD_DIR" --target alert_resources_bench >/dev/null
source "$root/scripts/wine_session.sh"
wine_session_ensure
tool="$BRIVON_BUILD_DIR/tests/tools/alert_resources_bench.exe"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Noise does not compress: a PNG of several MiB.
convert -size 2000x1500 xc: +noise Random PNG24:"$work/big.png"
ls -l "$work/big.png" | awk '{print "picture file bytes:", $5}'
wine "$tool" picture "Z:${work//\//\\}\\big.png"
# A small file declaring 30,000 x 30,000 pixels: refused from its header, never decoded.
enormous="$root/tests/fixtures/alerts/picture_30000x30000.png"
wine "$tool" picture "Z:${enormous//\//\\}"
wine "$tool" endless
for n in 100 1000 10000; do wine "$tool" parse "$n"; done

#!/usr/bin/env bash
# Paint benchmark: one whole paint of each alert kind at 1920 x 1080 under Wine, on an off-screen
# DIB and on a shown full-screen window of the bench's own X display, with the pictures scaled ahead
# as the program's worker scales them; then, for each kind with a first window, brivon.exe from
# its start to that window fully painted, beside the floor of that road: a program of the same
# build that only posts the check-in and fetches what the window shows, from its start to its exit.
#   bash bench/paint_bench.sh [ROUNDS] [WIDTH HEIGHT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/arch.sh"
arch_prepare "$root"
# The bench brings brivon.exe, the floor program and the sibling program the check-ins report.
BRIVON_BUILD_TARGETS="brivon_paint_bench" "$root/scripts/build.sh" "$BRIVON_BUILD_DIR" >/dev/null
source "$root/scripts/wine_session.sh"
wine_session_ensure
trap wine_session_stop EXIT
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(wine --version)"
wine "$BRIVON_BUILD_DIR/tests/tools/brivon_paint_bench.exe" "$@" | tr -d '\r'

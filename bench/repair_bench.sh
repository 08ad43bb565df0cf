#!/usr/bin/env bash
# Times the start-up repair under Wine: on a clean folder and on a folder with an update record.
#   bash bench/repair_bench.sh [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/arch.sh"
arch_prepare "$root"
BRIVON_BUILD_TARGETS="brivon_repair_bench" "$root/scripts/build.sh" "$BRIVON_BUILD_DIR" >/dev/null
source "$root/scripts/wine_session.sh"
wine_session_ensure
trap wine_session_stop EXIT
work="$BRIVON_BUILD_DIR/bench-repair"
rm -rf "$work"
wine "$BRIVON_BUILD_DIR/tests/tools/brivon_repair_bench.exe" "$(printf 'Z:%s' "$work" | tr / '\\')" "$@" | tr -d '\r'

#!/usr/bin/env bash
# Builds everything and runs every test under Wine. Extra arguments go to ctest (e.g. -R startup).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BRIVON_BUILD_DIR="${BRIVON_BUILD_DIR:-$root/build}"
"$root/scripts/deps.sh" "$BRIVON_BUILD_DIR"
"$root/scripts/build.sh" "$BRIVON_BUILD_DIR"
source "$root/scripts/bench.sh"
bench_ensure
trap bench_stop EXIT
ctest --test-dir "$BRIVON_BUILD_DIR" --output-on-failure "$@"

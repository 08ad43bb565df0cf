#!/usr/bin/env bash
# Builds everything and runs every test under Wine. Extra arguments go to ctest (e.g. -R startup).
# The suite runs for every architecture this host runs (scripts/arch.sh; BRIVON_ARCH forces one),
# each in its own build folder build/<arch>; the release's image is checked in the i686 build,
# which compiles on any host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BRIVON_BUILD_ROOT="${BRIVON_BUILD_ROOT:-$root/build}"
source "$root/scripts/arch.sh"
mapfile -t arches < <(arch_for_tests)
if [ -n "${BRIVON_ARCH:-}" ]; then
  arch_choose
elif [ ${#arches[@]} -gt 1 ]; then
  echo "architectures: i686 and x86_64, one after the other (this kernel runs 32- and 64-bit programs)"
else
  arch_choose
fi
"$root/scripts/deps.sh" "$BRIVON_BUILD_ROOT"

status=0
for arch in "${arches[@]}"; do
  arch_check_loader "$arch"
done
if [[ " ${arches[*]} " != *" i686 "* ]]; then
  echo "== the release's image, from the i686 build"
  (
    export BRIVON_ARCH=i686 BRIVON_BUILD_TARGETS=brivon
    "$root/scripts/build.sh" "$BRIVON_BUILD_ROOT/i686" >/dev/null || exit 1
    ctest --test-dir "$BRIVON_BUILD_ROOT/i686" --output-on-failure -R '^brivon_executable_image$'
  ) || status=1
fi
for arch in "${arches[@]}"; do
  echo "== tests for $arch"
  (
    export BRIVON_ARCH=$arch BRIVON_BUILD_DIR="$BRIVON_BUILD_ROOT/$arch"
    # (set -e does not hold inside a subshell tested by ||: each step says so itself)
    "$root/scripts/build.sh" "$BRIVON_BUILD_DIR" || exit 1
    source "$root/scripts/bench.sh"
    bench_ensure || exit 1
    trap bench_stop EXIT
    ctest --test-dir "$BRIVON_BUILD_DIR" --output-on-failure "$@"
  ) || status=1
done
exit $status

#!/usr/bin/env bash
# Builds everything and runs every test under Wine. Extra arguments go to ctest (e.g. -R startup).
# The suite runs for every architecture this host runs (scripts/arch.sh; BRIVON_ARCH forces one),
# each in its own build folder build/<arch>; the release's image is checked in the i686 build,
# which compiles on any host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BRIVON_BUILD_ROOT="${BRIVON_BUILD_ROOT:-$root/build}"
source "$root/scripts/arch.sh"
# First: which architectures run depends on what could be installed.
"$root/scripts/deps.sh" "$BRIVON_BUILD_ROOT"
mapfile -t arches < <(arch_for_tests)
if [ -n "${BRIVON_ARCH:-}" ]; then
  arch_choose
elif [ ${#arches[@]} -gt 1 ]; then
  echo "architectures: i686 and x86_64, side by side (this kernel runs 32- and 64-bit programs)"
else
  arch_choose
fi

status=0
for arch in "${arches[@]}"; do
  arch_check_loader "$arch"
done
# Where no i686 suite runs, the release's image is still built and checked: beside the tests,
# which mostly wait, rather than before them.
image_check() {
  export BRIVON_ARCH=i686 BRIVON_BUILD_TARGETS=brivon
  # Below the tests' priority: a compiler at full speed beside them only makes them flaky. A build
  # that fails says why: its last lines, since nothing else would show.
  local built="$BRIVON_BUILD_ROOT/image-build.log"
  if ! nice -n 10 "$root/scripts/build.sh" "$BRIVON_BUILD_ROOT/i686" >"$built" 2>&1; then
    echo "FAILED: the i686 build of brivon.exe; its last lines:"
    tail -n 40 "$built"
    return 1
  fi
  ctest --test-dir "$BRIVON_BUILD_ROOT/i686" --output-on-failure -R '^brivon_executable_image$'
}

# Two architectures test side by side: the second on the next port and on a display of its own
# (the first free one from :<display + 100>), so neither sees the other's service or windows.
# The tests mostly wait on Wine, the network and the screen, so its build overlaps the first's tests.
base_port="${BRIVON_TEST_PORT:-47321}"
base_display="${BRIVON_XVFB_DISPLAY:-:77}"
free_display() {
  local n=$((${base_display#:} + 100))
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  echo ":$n"
}
# Within one architecture, tests run side by side too; the ones that share the built-in port,
# the display or the archive tools in the prefix hold a lock (tests/CMakeLists.txt).
jobs="${BRIVON_TEST_JOBS:-4}"

build_arch() {  # arch
  BRIVON_ARCH=$1 "$root/scripts/build.sh" "$BRIVON_BUILD_ROOT/$1"
}
test_arch() {  # arch [ctest args...]
  local arch=$1
  shift
  (
    export BRIVON_ARCH=$arch BRIVON_BUILD_DIR="$BRIVON_BUILD_ROOT/$arch"
    # The end-to-end tests run in two lanes side by side (tests/CMakeLists.txt): the second lane's
    # prefix and display are made beside the first's.
    lane_b() { (export BRIVON_LANE=b && source "$root/scripts/wine_session.sh" && "$@"); }
    lane_b wine_session_ensure >/dev/null &
    lane_b_made=$!
    source "$root/scripts/wine_session.sh"
    trap 'wine_session_stop; lane_b wine_session_stop' EXIT
    wine_session_ensure || exit 1
    wait "$lane_b_made" || exit 1
    ctest --test-dir "$BRIVON_BUILD_DIR" --output-on-failure -j "$jobs" "$@"
  )
}

if [ ${#arches[@]} -eq 1 ]; then
  arch=${arches[0]}
  echo "== tests for $arch"
  image_job=
  if build_arch "$arch"; then
    if [ "$arch" != i686 ]; then
      (image_check) >"$BRIVON_BUILD_ROOT/image-check.log" 2>&1 &
      image_job=$!
    fi
    test_arch "$arch" "$@" || status=1
  else
    status=1
  fi
  if [ -n "$image_job" ]; then
    echo "== the release's image, from the i686 build"
    wait "$image_job" || status=1
    cat "$BRIVON_BUILD_ROOT/image-check.log"
  fi
  exit $status
fi

first=${arches[0]} second=${arches[1]}
log="$BRIVON_BUILD_ROOT/tests-$first.log"
echo "== building for $first"
if build_arch "$first"; then
  echo "== tests for $first (output below once they end), while $second builds"
  test_arch "$first" "$@" >"$log" 2>&1 &
  first_tests=$!
else
  status=1
  first_tests=
fi
echo "== tests for $second"
(
  export BRIVON_TEST_PORT=$((base_port + 1)) BRIVON_XVFB_DISPLAY
  BRIVON_XVFB_DISPLAY=$(free_display)
  unset DISPLAY BRIVON_OWN_DISPLAY
  build_arch "$second" && test_arch "$second" "$@"
) || status=1
if [ -n "$first_tests" ]; then
  wait "$first_tests" || status=1
  echo "== tests for $first"
  cat "$log"
fi
exit $status

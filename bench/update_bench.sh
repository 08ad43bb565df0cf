#!/usr/bin/env bash
# Times one whole update run with a ZIP package of 1,000 files (200 MB): alone, and through the
# real brivon.exe from its update window's first paint to its end (needs the display and the test
# build's built-in port, like the end-to-end tests); beside it, in the same run, a plain download
# of the same package with curl and `7za.exe x` of it, the least any update could take. Each
# run's log lines are timed too, to show where the time goes. BRIVON_BENCH_RUNS measurements (5),
# and their medians.
#   bash bench/update_bench.sh [FILES] [FILE_KIB]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/arch.sh"
arch_prepare "$root"
files="${1:-1000}"
kib="${2:-200}"
work="$BRIVON_BUILD_DIR/bench-update"
mkdir -p "$work"
BRIVON_BUILD_TARGETS="${BRIVON_BUILD_TARGETS:-brivon brivon_update_bench brivon_sibling_fixtures}" \
  "$root/scripts/build.sh" "$BRIVON_BUILD_DIR" >/dev/null

# The new program is a real Windows image of the build's processor: anything else is refused
# before the swap, and the bench would time an update that installs nothing.
new_program="$BRIVON_BUILD_DIR/tests/tools/fixture_sibling_65535_0_65535_1.exe"
package="$work/Paquete_${files}x${kib}k_imagen.zip"
if [ ! -f "$package" ] || [ "$new_program" -nt "$package" ]; then
  # Incompressible files, so the archive really is files x size; the program's executable is one of them.
  /usr/bin/python3 - "$package" "$files" "$kib" "$new_program" <<'PY'
import os, sys, zipfile
path, files, kib, program = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
with zipfile.ZipFile(path + ".tmp", "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    z.write(program, "bin/Programa.exe")
    for i in range(files - 1):
        z.writestr("datos/%03d/archivo_%04d.bin" % (i % 50, i), os.urandom(kib * 1024))
os.replace(path + ".tmp", path)
PY
fi
ls -l "$package" | awk '{printf "package: %.1f MB\n", $5 / 1048576}'

source "$root/scripts/wine_session.sh"
wine_session_ensure
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# The package comes from a loopback server outside Wine that hands the file to the kernel
# (sendfile), for the update and for curl alike: a desk's server is another machine, and one
# under Wine would share this machine's cores and its wineserver with the client it serves.
port="${BRIVON_BENCH_PORT:-47393}"
/usr/bin/python3 "$root/bench/loopback_file_server.py" "$port" "$package" >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
package_url="http://127.0.0.1:$port/Paquete.zip"
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
for _ in $(seq 1 50); do listening && break; sleep 0.1; done
listening || { echo "the package server on port $port did not start" >&2; exit 1; }
steps="$work/pasos"
out="$work/salida.txt"
summary="$work/resumen.txt"
: >"$summary"

# One measurement: the bench program's runs, curl's download and the figures of both.
measure() {
  local curl_seconds=0 code=0 bench step extract window
  rm -rf "$steps" "$work/curl.zip"
  mkdir -p "$steps"
  wine "$BRIVON_BUILD_DIR/tests/tools/brivon_update_bench.exe" "$(winpath "$package")" "$package_url" \
    "$(winpath "$work")" "$(winpath "$steps")" >"$out" 2>&1 &
  bench=$!
  # Each step: the disk's pending writes out first; before the first, curl's own download.
  for step in curl sola vigilada 7za ventana; do
    while [ ! -f "$steps/$step.listo" ] && kill -0 "$bench" 2>/dev/null; do sleep 0.05; done
    [ -f "$steps/$step.listo" ] || break
    if [ "$step" = curl ]; then
      sync
      curl_seconds=$(curl -s -o "$work/curl.zip" -w '%{time_total}' "$(cat "$steps/curl.listo")")
      rm -f "$work/curl.zip"
    fi
    sync
    touch "$steps/$step.sigue"
  done
  wait "$bench" || code=$?
  tr -d '\r' <"$out" | grep -v '^extraction alone:\|^window:'
  echo "curl download of the package alone: $curl_seconds s"
  [ "$code" = 0 ] || exit "$code"
  extract=$(tr -d '\r' <"$out" | awk '/^extraction alone:/ {print $3}')
  window=$(tr -d '\r' <"$out" | awk '/^window:/ {print $2}')
  # The window's run split into its stages, from the moments its lines appeared (the last column).
  tr -d '\r' <"$out" | awk -v c="$curl_seconds" -v x="$extract" -v w="$window" '
    /^DESCARGA;/ {d = $NF} /^UNZIP_7ZA;/ {u = $NF} /^EXE_NUEVO_EN_RAIZ_OK;/ {n = $NF} /^ZIP_CARPETA;/ {z = $NF}
    /^end \(/ {e = $NF}
    END { printf "%.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f\n", c, x, c + x, w, d, u - d, n - u, z - n, e - z }' \
    >>"$summary"
  tail -n 1 "$summary" | awk '{ printf "curl + 7za x: %.2f s; update window: %.2f s = %.2f x\n", $3, $4, $4 / $3 }'
}

# The machine's disk and cores swing one operation by half a second from one measurement to the
# next, so each window is set against the floor measured beside it, and the figure is the median of
# those ratios over several measurements.
runs="${BRIVON_BENCH_RUNS:-5}"
for run in $(seq 1 "$runs"); do
  echo "== measurement $run of $runs"
  measure
done
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
column() { awk -v k="$1" '{print $k}' "$summary" | median; }
ratios=$(awk '{printf "%.2f\n", $4 / $3}' "$summary" | sort -n | tr '\n' ' ')
echo "== medians of $runs measurements"
echo "curl $(column 1) s + 7za x $(column 2) s = $(column 3) s; update window $(column 4) s"
echo "update window / (curl + 7za x), measured side by side: $(awk '{print $4 / $3}' "$summary" | median |
  xargs printf '%.2f') x (goal: at most 1.15 x); each measurement: $ratios"
echo "window stages: download $(column 5) s, unpacking $(column 6) s, check and swap $(column 7) s," \
  "previous version kept and archived $(column 8) s, clean-up $(column 9) s"

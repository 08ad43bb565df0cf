#!/usr/bin/env bash
# The main job, shown: builds the loopback build, starts the bundled demo service on 127.0.0.1,
# runs brivon.exe in a fresh demo program folder under Wine, and shows what it left behind.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BRIVON_BUILD_DIR="${BRIVON_BUILD_DIR:-$root/build}"
port="${BRIVON_TEST_PORT:-47321}"
"$root/scripts/deps.sh" "$BRIVON_BUILD_DIR"
"$root/scripts/build.sh" "$BRIVON_BUILD_DIR" >/dev/null
source "$root/scripts/bench.sh"
bench_ensure

demo="$BRIVON_BUILD_DIR/demo"
program="$demo/programa"
rm -rf "$demo"
mkdir -p "$program"
cp "$BRIVON_BUILD_DIR/bin/brivon.exe" "$program/"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

tool="$BRIVON_BUILD_DIR/tools/node_modules/7zip-bin/win/ia32/7za.exe"
wine "$BRIVON_BUILD_DIR/tests/tools/brivon_demo_service.exe" --port "$port" \
  --file /parches/7za.exe "$(winpath "$tool")" \
  >"$demo/servicio.log" 2>&1 </dev/null &
stop_service() { curl -s -o /dev/null "http://127.0.0.1:$port/__stop" || true; }
trap 'stop_service; bench_stop' EXIT
for _ in $(seq 1 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.1
done

echo "== brivon.exe runs in $program"
set +e
(cd "$program" && wine brivon.exe)
code=$?
set -e
echo "exit code: $code"
stop_service
sleep 0.5

echo
echo "== What the demo service was asked"
grep -v '__stop\|GET / ' "$demo/servicio.log" | tr -d '\r' || true
echo
echo "== Files left in the program folder"
(cd "$program" && find . -type f -printf '%10s  %p\n' | sort -k2)
if cmp -s "$tool" "$program/7za.exe"; then echo "7za.exe is byte-identical to the served tool"; fi
echo
echo "== Log lines"
for log in "$program"/actualizador_registros/*.csv; do
  [ -f "$log" ] || continue
  echo "-- ${log#$program/}"
  tr -d '\r' <"$log" | iconv -f WINDOWS-1252 -t UTF-8
done

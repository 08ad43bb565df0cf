#!/usr/bin/env bash
# The real brivon.exe shows the demo alert document on the bench's X display while
# scripts/demo_alert_windows.sh plays the person (Enter on the check-in's warning box, a
# screenshot and a close-bar click per window). The screenshots stay under the build folder,
# and a few of their pixels are checked against the colours the document asks for.
#   alert_windows_screenshots.sh SOURCE_DIR BUILD_DIR PORT 7ZA_EXE ARCH
# Runs in the Wine session of its lane (scripts/wine_session.sh: display, prefix): ctest runs it from scripts/test.sh.
set -uo pipefail
src="${1:?usage: alert_windows_screenshots.sh SOURCE_DIR BUILD_DIR PORT 7ZA_EXE ARCH}"
build="${2:?}"
port="${BRIVON_TEST_BUILT_IN_PORT:-${3:?}}"  # the second lane's service port, when it runs there
tool="${4:?}"
export BRIVON_BUILD_DIR="$build" BRIVON_ARCH="${5:?}"
source "$src/scripts/wine_session.sh"
wine_session_ensure >/dev/null || exit 1
wine="$build/wine-run"  # the loader of the build's architecture
shots="$build/artifacts/alert_windows/real"
work="$build/alert-windows-screenshots"
program="$work/programa"
demo="$src/tests/fixtures/demo"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

rm -rf "$shots" "$work"
mkdir -p "$shots" "$program/actualizador_registros"
cp "$build/bin/brivon.exe" "$program/"
cp "$tool" "$program/"
# The demo document, and after it an alert of a kind this program does not know: its frame only.
sed "s/{{PUERTO}}/$port/g" "$demo/alertas_demo.json" |
  /usr/bin/python3 -c 'import json, sys
d = json.load(sys.stdin)
d["alertas"].append({"tipo": "aviso_futuro", "contenido": [{"texto": "no se muestra"}]})
print(json.dumps(d, ensure_ascii=False, indent=2))' >"$program/actualizador_registros/recibido.json"

routes=()
for f in oferta_1.png oferta_2.png oferta_3.png novedades.png mantenimiento.png; do
  routes+=(--file "/demo/$f" "$(winpath "$demo/$f")" image/png)
done
routes+=(--file /demo/terminos.rtf "$(winpath "$demo/terminos.rtf")" application/rtf)
"$wine" "$build/tests/tools/brivon_demo_service.exe" --port "$port" "${routes[@]}" \
  >"$work/servicio.log" 2>&1 </dev/null &
stop_service() { curl -s -o /dev/null "http://127.0.0.1:$port/__stop" || true; }
trap stop_service EXIT
for _ in $(seq 1 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.1
done

# The preview of the same document, while the service runs: it must show what the windows show.
previews="$build/artifacts/alert_windows/preview/demo"
rm -rf "$previews"
mkdir -p "$previews"
cp "$program/actualizador_registros/recibido.json" "$work/alertas_demo.json"
"$wine" "$build/bin/brivon_alert_preview.exe" "$(winpath "$work/alertas_demo.json")" \
  "$(xdpyinfo -display "$DISPLAY" | awk '/dimensions:/ {split($2, s, "x"); print s[1]}')" \
  "$(xdpyinfo -display "$DISPLAY" | awk '/dimensions:/ {split($2, s, "x"); print s[2]}')" \
  "$(winpath "$previews/alerta")" </dev/null | tr -d '\r' || fail "the preview failed"

(cd "$program" && BRIVON_DEMO_TIMEOUT=300 bash "$src/scripts/demo_alert_windows.sh" "$shots" "$wine" brivon.exe)
code=$?
stop_service
[ "$code" = 0 ] || fail "brivon.exe ended with $code"

# 0xRRGGBB of a pixel of a screenshot.
pixel() { convert "$1" -format "%[hex:p{$2,$3}]" info: 2>/dev/null | cut -c1-6; }
# Within 3 per channel.
near() {
  local got=$1 want=$2 i
  for i in 0 2 4; do
    local a=$((16#${got:$i:2})) b=$((16#${want:$i:2}))
    [ $((a > b ? a - b : b - a)) -le 3 ] || return 1
  done
}
expect() {  # screenshot x y RRGGBB what
  local got
  got=$(pixel "$shots/$1" "$2" "$3")
  near "${got:-000000}" "$4" || fail "$1 at $2,$3: $got, expected $4 ($5)"
}

count=$(ls "$shots"/alerta_*.png 2>/dev/null | wc -l)
[ "$count" = 5 ] || fail "$count screenshots of alerts, expected 5"
[ -f "$shots/aviso_comprobador.png" ] || fail "no check-in warning box was seen"
read -r w h < <(identify -format '%w %h' "$shots/alerta_1.png" 2>/dev/null)
if [ "$count" = 5 ]; then
  for i in 1 2 3 4 5; do
    expect "alerta_$i.png" 5 5 1F3B57 "title band"
    expect "alerta_$i.png" $((w - 5)) $((h - 5)) 0078D7 "close bar"
    expect "alerta_$i.png" 5 90 F3F3F3 "background"
  done
  expect alerta_1.png 22 102 0B5394 "first entry's band"
  expect alerta_1.png $((w - 22)) 102 B45F06 "third entry's band"
  expect alerta_3.png 62 102 990000 "the message's band above its picture"
  expect alerta_4.png $((w - 40)) $((h - 70)) FFFFFF "the terms box"
  expect alerta_5.png $((w / 2)) $((h / 2)) F3F3F3 "nothing in an unknown kind's content area"
fi
# Pictures and fills agree pixel for pixel; text edges may be smoothed differently on a window
# than off screen. The terms box is a real rich-text control in the window only.
if [ "$count" = 5 ]; then
  for i in 1 2 3 5; do
    differ=$(compare -metric AE -fuzz 2% "$previews/alerta_$i.png" "$shots/alerta_$i.png" null: 2>&1)
    [ "${differ%%.*}" -lt $((w * h / 100)) ] 2>/dev/null ||
      fail "alert $i: the preview and the window differ in $differ pixels"
  done
fi
log=$(tr -d '\r' <"$program/actualizador_registros/descargas.csv" 2>/dev/null)
closes=$(grep -c 'CIERRE_ARCHIVAR_ZIP;.*brivon2.exe;NO_EXISTE$' <<<"$log")
[ "$closes" = 5 ] || fail "$closes close lines, expected 5"
grep -q 'GET /demo/terminos.rtf' "$work/servicio.log" || fail "the terms document was not asked for"
for f in oferta_1.png oferta_2.png oferta_3.png novedades.png mantenimiento.png; do
  grep -q "GET /demo/$f" "$work/servicio.log" || fail "/demo/$f was not asked for"
done
echo "screenshots in $shots, previews in $previews"
[ "$failures" = 0 ]

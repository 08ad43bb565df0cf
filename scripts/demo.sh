#!/usr/bin/env bash
# The main job, shown: builds the loopback build, starts the bundled demo service on 127.0.0.1 and
# runs brivon.exe three times in a fresh demo program folder under Wine, as a person would meet it:
#   1. first start: 7za.exe is fetched, the check-in reports the installed program, and the alerts
#      of the demo document appear one after another, the last one an update with an executable
#      package;
#   2. second start: an update with a ZIP package;
#   3. third start: the housekeeping archives the update folders the two updates left behind.
# On a headless machine (Xvfb) each alert window is saved as a screenshot and closed through its
# close bar; with a display of your own you close them yourself.
# After each start it prints what the service was asked, the files left and the log lines.
# It runs the release's i686 build where this host runs 32-bit code, the x86-64 build of the same
# sources otherwise (scripts/arch.sh; BRIVON_ARCH forces either).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/arch.sh"
arch_prepare "$root"
port="${BRIVON_TEST_PORT:-47321}"
arch_check_loader "$BRIVON_ARCH"
# Only what the demo runs: the program, the demo service and the sibling programs it installs; the
# test programs are the test command's to build.
BRIVON_BUILD_TARGETS="brivon brivon_demo_service fixture_sibling_3_0_0_0 fixture_sibling_10_2_0_15
  fixture_sibling_65535_0_65535_1" "$root/scripts/build.sh" "$BRIVON_BUILD_DIR" >/dev/null
source "$root/scripts/wine_session.sh"
wine_session_ensure

build="$BRIVON_BUILD_DIR"
tools="$build/tests/tools"
tool="$BRIVON_BUILD_ROOT/tools/node_modules/7zip-bin/win/$(arch_npm_folder "$BRIVON_ARCH")/7za.exe"
demo="$build/demo"
program="$demo/programa"
site="$demo/servicio"
shots="$demo/capturas"
rm -rf "$demo"
mkdir -p "$program" "$site" "$shots"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
base="http://127.0.0.1:$port"

# The installed sibling program (file version 3.0.0.0), its data files, and this program.
cp "$build/bin/brivon.exe" "$program/"
cp "$tools/fixture_sibling_3_0_0_0.exe" "$program/facturaorva.exe"
printf 'datos de la empresa\r\n' >"$program/Datos.MDB"
printf 'base de datos BDORVA\r\n' >"$program/Empresa.BDORVA"

# What the service serves: the update picture, the two packages (each sent over about five seconds,
# so that the update window's strip can be watched at work), the demo document's files.
convert -size 960x540 xc:'#0078D7' -fill white -pointsize 56 -gravity center \
  -annotate 0 'Actualizando FacturaOrva...' "$site/fotoactualizacion.png" 2>/dev/null ||
  convert -size 960x540 xc:'#0078D7' "$site/fotoactualizacion.png"
cp "$tools/fixture_sibling_10_2_0_15.exe" "$site/facturaorva.exe"
/usr/bin/python3 - "$tools/fixture_sibling_65535_0_65535_1.exe" "$site/Paquete.zip" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as z:
    z.write(sys.argv[1], "bin/facturaorva.exe")
    z.writestr("bin/ayuda.dll", "ayuda de FacturaOrva\r\n")
EOF

fixtures="$root/tests/fixtures/demo"
routes=(--file /parches/7za.exe "$(winpath "$tool")"
        --file /borrar/fotoactualizacion.png "$(winpath "$site/fotoactualizacion.png")" image/png
        --file /demo/facturaorva.exe "$(winpath "$site/facturaorva.exe")" --pace 5
        --file /demo/Paquete.zip "$(winpath "$site/Paquete.zip")" application/zip --pace 5)
if [ -d "$fixtures" ]; then
  for file in "$fixtures"/*; do
    name=$(basename "$file")
    case "$name" in *.json) continue ;; esac
    routes+=(--file "/demo/$name" "$(winpath "$file")")
  done
fi

# The alert documents the check-in gets at each start, with the service's address filled in.
update_alert() {
  printf '{"tipo":"url_actualizar","titulo":"Actualizando FacturaOrva","contenido":[{"enlace":"%s"}]}' "$1"
}
/usr/bin/python3 - "$fixtures/alertas_demo.json" "$port" "$(update_alert "$base/demo/facturaorva.exe")" \
  >"$site/inicio1.json" <<'EOF'
import json, os, sys
path, port, update = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
if os.path.exists(path):
    with open(path, encoding="utf-8") as f:
        document = json.loads(f.read().replace("{{PUERTO}}", port))
else:
    document = {"titulo": "Avisos de FacturaOrva", "color_fondo": "#1E2A38",
                "color_titulo_fondo": "#0078D7", "color_titulo_texto": "#FFFFFF",
                "alertas": [{"tipo": "solo_mensaje", "contenido": [{"texto": "Bienvenido a FacturaOrva",
                             "color_fondo": "#2D3E50", "color_texto": "#FFFFFF"}]}]}
document.setdefault("alertas", []).append(update)
print(json.dumps(document, ensure_ascii=False, indent=2))
EOF
printf '{"titulo":"Avisos de FacturaOrva","color_fondo":"#1E2A38","color_titulo_fondo":"#0078D7","color_titulo_texto":"#FFFFFF","alertas":[%s,%s]}\n' \
  "$(update_alert "$base/demo/Paquete.zip")" \
  '{"tipo":"solo_mensaje","contenido":[{"texto":"FacturaOrva se ha actualizado desde un paquete ZIP.","color_fondo":"#2D3E50","color_texto":"#FFFFFF"}]}' \
  >"$site/inicio2.json"
printf '{"titulo":"Avisos de FacturaOrva","alertas":[]}\n' >"$site/inicio3.json"

service_pid=
stop_service() {
  curl -s -o /dev/null "$base/__stop" || true
  [ -n "$service_pid" ] && wait "$service_pid" 2>/dev/null || true
  service_pid=
}
trap 'stop_service; wine_session_stop' EXIT

start_service() {  # the document the check-in gets; the service's log file
  wine "$tools/brivon_demo_service.exe" --port "$port" "${routes[@]}" \
    --file /comprobador/checkin "$(winpath "$1")" application/json >"$2" 2>&1 </dev/null &
  service_pid=$!
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "$base/" && return 0
    sleep 0.1
  done
  echo "the demo service did not start" >&2
  return 1
}

show_logs() {
  for log in "$program"/actualizador_registros/*.csv; do
    [ -f "$log" ] || continue
    echo "-- ${log#$program/}"
    tr -d '\r' <"$log" | iconv -f WINDOWS-1252 -t UTF-8
  done
}

run_start() {  # number, what it shows
  local n=$1
  echo
  echo "================ Start $n: $2"
  start_service "$site/inicio$n.json" "$demo/servicio$n.log"
  : >"$program/.before"
  set +e
  if [ "${BRIVON_OWN_DISPLAY:-}" = 1 ]; then
    # Headless: play the person at the desk (screenshot, then the close bar).
    (cd "$program" && bash "$root/scripts/demo_alert_windows.sh" "$shots/inicio$n" "$BRIVON_WINE" brivon.exe)
  else
    echo "(close each alert through its bottom bar; an update window closes by itself)"
    (cd "$program" && wine brivon.exe)
  fi
  local code=$?
  set -e
  echo "exit code: $code"
  stop_service
  echo
  echo "== What the demo service was asked"
  grep -v '__stop\|GET / \|escuchando' "$demo/servicio$n.log" | tr -d '\r' || true
  echo
  echo "== Files in the program folder"
  (cd "$program" && find . -type f ! -name .before -printf '%10s  %p\n' | sort -k2)
  echo
  echo "== Log lines so far"
  show_logs
}

run_start 1 "archive tool, check-in, the demo alerts and an update with an executable package"
if cmp -s "$tool" "$program/7za.exe"; then echo "7za.exe is byte-identical to the served tool"; fi
echo "-- the report sent:"; tr -d '\r' <"$program/actualizador_registros/ComprobadorOrvane.json"; echo
cmp -s "$site/facturaorva.exe" "$program/facturaorva.exe" && echo "facturaorva.exe is now the served package"

run_start 2 "the first update's folder archived by the housekeeping, then an update with a ZIP package"
cmp -s "$tools/fixture_sibling_65535_0_65535_1.exe" "$program/facturaorva.exe" &&
  echo "facturaorva.exe is now the one from Paquete.zip"

run_start 3 "the housekeeping archives the second update's folder; no alerts"
echo
echo "== Archives of earlier updates"
for zip in "$program"/actualizaciones/*.zip "$program"/versiones/*.zip; do
  [ -f "$zip" ] || continue
  echo "-- ${zip#$program/}"
  wine "$tool" l -ba "$(winpath "$zip")" 2>/dev/null | tr -d '\r' | awk '{print "   " $NF}'
done
echo
echo "Screenshots of every alert window: $shots"

#!/usr/bin/env bash
# Start-up benchmark: the time from starting a program under Wine to its exit, for a start with
# nothing to show. Three rows, side by side in one run (each round runs all three): an empty GUI
# program, a bare WinINet POST of a small report to a loopback service, and brivon.exe whose
# check-in reply holds no alert. Medians of the rounds.
#   bash bench/startup_bench.sh [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/arch.sh"
arch_prepare "$root"
rounds="${1:-9}"
BRIVON_BUILD_TARGETS="brivon brivon_sibling_fixtures brivon_startup_empty brivon_startup_post" \
  "$root/scripts/build.sh" "$BRIVON_BUILD_DIR" >/dev/null
port=$(sed -n 's/^BRIVON_TEST_PORT:STRING=//p' "$BRIVON_BUILD_DIR/CMakeCache.txt")
work="$BRIVON_BUILD_DIR/bench-startup"
rm -rf "$work"
mkdir -p "$work/programa"
for program in empty post; do
  cp "$BRIVON_BUILD_DIR/tests/tools/brivon_startup_$program.exe" "$work/startup_$program.exe"
done
# The program folder of a desk: brivon.exe, its archive tool and the sibling program it reports.
cp "$BRIVON_BUILD_DIR/bin/brivon.exe" "$work/programa/"
cp "$(sed -n 's/^BRIVON_7ZA_EXE:FILEPATH=//p' "$BRIVON_BUILD_DIR/CMakeCache.txt")" "$work/programa/7za.exe"
cp "$BRIVON_BUILD_DIR/tests/tools/fixture_sibling_10_2_0_15.exe" "$work/programa/FacturaOrva.exe"

source "$root/scripts/wine_session.sh"
wine_session_ensure
trap wine_session_stop EXIT
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(wine --version)"
/usr/bin/python3 - "$port" "$work" "$rounds" "$BRIVON_WINE" <<'PY'
import http.server, os, statistics, subprocess, sys, threading, time
port, work, rounds, wine = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
# The check-in service: every report is answered with a document that holds no alert.
document = b'{"titulo":"Avisos","alertas":[]}'
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(document)))
        self.end_headers()
        self.wfile.write(document)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
threading.Thread(target=server.serve_forever, daemon=True).start()
rows = [
    ("an empty GUI program (WinMain returns 0)", [os.path.join(work, "startup_empty.exe")], work),
    ("a bare WinINet POST of a small report, then exit", [os.path.join(work, "startup_post.exe"), str(port)], work),
    ("brivon.exe, its check-in reply holds no alert", [os.path.join(work, "programa", "brivon.exe")],
     os.path.join(work, "programa")),
]
times = {name: [] for name, _, _ in rows}
def run(command, folder):
    # Wine finishes off an exited program (its server, the desktop process) for a moment after its
    # exit; a start right then takes up to 60 ms more, whichever program it is. A desk starts the
    # program on its own, so each start waits that moment out.
    time.sleep(0.3)
    start = time.perf_counter()
    code = subprocess.run([wine] + command, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    if code != 0:
        sys.exit("%s ended with %d" % (command[0], code))
    return (time.perf_counter() - start) * 1000
for _, command, folder in rows:  # once each first: files and libraries in the page cache
    run(command, folder)
for i in range(rounds):
    order = rows if i % 2 == 0 else rows[::-1]  # a busy moment of the machine hits every row
    for name, command, folder in order:
        times[name].append(run(command, folder))
if b"alertas" not in open(os.path.join(work, "programa", "actualizador_registros", "recibido.json"), "rb").read():
    sys.exit("brivon.exe did not store the service's document")
post = statistics.median(times[rows[1][0]])
print("%d rounds, medians" % rounds)
print("| what | median ms | fastest ms | x bare POST |")
print("|---|---:|---:|---:|")
for name, _, _ in rows:
    median = statistics.median(times[name])
    print("| %s | %.0f | %.0f | %.2f |" % (name, median, min(times[name]), median / post))
server.shutdown()
PY

#!/usr/bin/env bash
# Package download benchmark: the update's own download under Wine (FetchPackage with the window's
# progress callback, then the flush before the package takes its name) against curl, both fetching
# the same file from a loopback HTTP server in the same run, for several read sizes and two package
# sizes (peak memory must not grow with the package). Two floors: curl alone, and curl followed by
# an fsync of its file (`sync -d FILE`). The update reads 256 KiB at a time (kPackageReadSize).
#   bash bench/download_bench.sh [SIZE_MIB] [READ_SIZES...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/arch.sh"
arch_prepare "$root"
size_mib="${1:-1024}"
shift || true
mibs=(64)
[ "$size_mib" = 64 ] || mibs+=("$size_mib")
[ $# -gt 0 ] && read_sizes=("$@") || read_sizes=(65536 262144 1048576 4194304)
port="${BRIVON_BENCH_PORT:-47391}"
work="$BRIVON_BUILD_DIR/bench-download"
mkdir -p "$work/data"

# The benchmark program, linked against the update's library.
BRIVON_BUILD_TARGETS="brivon_download_bench" "$root/scripts/build.sh" "$BRIVON_BUILD_DIR" >/dev/null
bench_exe="$BRIVON_BUILD_DIR/tests/tools/brivon_download_bench.exe"

# Packages: sparse files, so the disk holds nothing until they are downloaded.
for mib in "${mibs[@]}"; do
  [ -f "$work/data/paquete_$mib.bin" ] || truncate -s "${mib}M" "$work/data/paquete_$mib.bin"
done

source "$root/scripts/wine_session.sh"
wine_session_ensure
# A loopback server that hands the file to the kernel (sendfile), so the clients are what is measured.
/usr/bin/python3 "$root/bench/loopback_file_server.py" "$port" "$work/data" >/dev/null 2>&1 &
server=$!
cleanup() { kill "$server" 2>/dev/null || true; rm -f "$work"/*.out; }
trap cleanup EXIT
for _ in $(seq 1 50); do curl -sf -o /dev/null "http://127.0.0.1:$port/paquete_64.bin" && break; sleep 0.1; done

target_win=$(winepath -w "$work/descarga.out" 2>/dev/null)
rounds="${BRIVON_BENCH_ROUNDS:-3}"
declare -A times rss private
median() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
fastest() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | head -1; }
# Rounds alternate curl and every read size, so a busy moment of the machine hits all of them.
for mib in "${mibs[@]}"; do
  url="http://127.0.0.1:$port/paquete_$mib.bin"
  for _ in $(seq 1 "$rounds"); do
    # Both clients are timed from the request to the stored file, without their start-up.
    s=$(/usr/bin/time -f '%M' -o "$work/time.txt" curl -sf -o "$work/curl.out" -w '%{time_total}' "$url")
    times[$mib,curl]+="$s "
    rss[$mib,curl]=$(cat "$work/time.txt")
    start=$(date +%s.%N)
    sync -d "$work/curl.out"
    times[$mib,synced]+="$(echo "$s + $(date +%s.%N) - $start" | bc -l) "
    # Flushed outside the timing, so one client's write-back does not slow the next one down.
    rm -f "$work/curl.out" && sync
    for size in "${read_sizes[@]}"; do
      line=$(/usr/bin/time -f 'rss_kib=%M' -o "$work/time.txt" wine "$bench_exe" "$url" \
        "$target_win" "$size" | tr -d '\r')
      bytes=$(sed -n 's/.*bytes=\([0-9]*\).*/\1/p' <<<"$line")
      [ "$bytes" = $((mib * 1024 * 1024)) ] || { echo "download of $mib MiB failed: $line" >&2; exit 1; }
      times[$mib,$size]+="$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line") "
      rss[$mib,$size]=$(sed -n 's/rss_kib=//p' "$work/time.txt")
      private[$mib,$size]=$(sed -n 's/.*peak_private_kib=\([0-9]*\).*/\1/p' <<<"$line")
      rm -f "$work"/descarga.out* && sync
    done
  done
done

# Medians of the rounds, and the fastest round (the machine's load makes single rounds noisy).
# peak_KiB: the process's peak resident set (GNU time); private_KiB: its own peak commit as
# Windows reports it.
printf '%-26s %6s %9s %9s %9s %10s %12s\n' "client" "MiB" "seconds" "fastest" "MiB/s" "peak_KiB" "private_KiB"
for mib in "${mibs[@]}"; do
  curl_s=$(median "${times[$mib,curl]}")
  synced_s=$(median "${times[$mib,synced]}")
  printf '%-26s %6s %9.3f %9.3f %9.1f %10s %12s\n' "curl" "$mib" "$curl_s" "$(fastest "${times[$mib,curl]}")" \
    "$(echo "$mib / $curl_s" | bc -l)" \
    "${rss[$mib,curl]}" "-"
  printf '%-26s %6s %9.3f %9.3f %9.1f %10s %12s\n' "curl + sync -d" "$mib" "$synced_s" \
    "$(fastest "${times[$mib,synced]}")" "$(echo "$mib / $synced_s" | bc -l)" "${rss[$mib,curl]}" "-"
  for size in "${read_sizes[@]}"; do
    s=$(median "${times[$mib,$size]}")
    printf '%-26s %6s %9.3f %9.3f %9.1f %10s %12s   x%.2f curl  x%.2f curl + sync -d\n' "update path ${size}B" \
      "$mib" "$s" "$(fastest "${times[$mib,$size]}")" \
      "$(echo "$mib / $s" | bc -l)" "${rss[$mib,$size]}" "${private[$mib,$size]}" "$(echo "$s / $curl_s" | bc -l)" \
      "$(echo "$s / $synced_s" | bc -l)"
  done
done
# One line per read size and package size: the update's time over curl's and its flush.
for mib in "${mibs[@]}"; do
  synced_s=$(median "${times[$mib,synced]}")
  for size in "${read_sizes[@]}"; do
    printf 'release read size %s B: %.2f x curl + sync -d at %s MiB\n' "$size" \
      "$(echo "$(median "${times[$mib,$size]}") / $synced_s" | bc -l)" "$mib"
  done
done

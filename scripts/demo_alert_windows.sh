#!/usr/bin/env bash
# Runs a command that shows alert windows (brivon.exe under Wine) and plays the person in front
# of the screen: for each alert window that appears on $DISPLAY it saves a screenshot, then
# clicks the window's close bar. Returns the command's exit code.
#   demo_alert_windows.sh SCREENSHOT_FOLDER COMMAND [ARGS...]
# Screenshots are SCREENSHOT_FOLDER/alerta_1.png, alerta_2.png, ... in the order shown.
set -uo pipefail
out="${1:?usage: demo_alert_windows.sh SCREENSHOT_FOLDER COMMAND [ARGS...]}"
shift
: "${DISPLAY:?DISPLAY must name the X display the alerts appear on}"
mkdir -p "$out"

read -r screen_w screen_h < <(xdpyinfo -display "$DISPLAY" | awk '/dimensions:/ {split($2, s, "x"); print s[1], s[2]}')
# Three quarters across, 25 pixels above the bottom: inside the close bar, clear of the
# acceptance button of a terms alert at its left end.
close_x=$((screen_w * 3 / 4))
close_y=$((screen_h - 25))

"$@" &
program=$!

alert_windows() { xdotool search --onlyvisible --name '^ESTO ES UNA ALERTA$' 2>/dev/null; }

shown=0
while kill -0 "$program" 2>/dev/null; do
  window=$(alert_windows | head -n 1)
  if [ -z "$window" ]; then
    sleep 0.2
    continue
  fi
  sleep 1.5  # its first paint, and a terms document's download
  shown=$((shown + 1))
  shot="$out/alerta_$shown.png"
  xwd -root -silent -display "$DISPLAY" | convert xwd:- "$shot"
  echo "alerta $shown: captura en $shot"
  xdotool mousemove "$close_x" "$close_y" click 1
  for _ in $(seq 1 100); do
    alert_windows | grep -qx "$window" || break
    sleep 0.1
  done
done
wait "$program"
code=$?
echo "alertas mostradas: $shown"
exit "$code"

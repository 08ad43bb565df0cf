#!/usr/bin/env bash
# Runs a command that shows alert windows (brivon.exe under Wine) and plays the person in front
# of the screen: for each alert window that appears on $DISPLAY it saves a screenshot, then
# clicks the window's close bar. The check-in's warning box ("ComprobadorOrvane", shown when no
# known program lies in the folder) is answered with Enter first. Returns the command's exit code.
#   demo_alert_windows.sh SCREENSHOT_FOLDER COMMAND [ARGS...]
# Screenshots are SCREENSHOT_FOLDER/alerta_1.png, alerta_2.png, ... in the order shown.
# BRIVON_DEMO_TIMEOUT (seconds, 600 unless set) ends the command if it is still running then.
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

# Enter on the warning box, as a person would: OK is its default button.
answer_checkin_box() {
  local box
  for box in $(xdotool search --onlyvisible --name '^ComprobadorOrvane$' 2>/dev/null); do
    sleep 0.5
    xwd -root -silent -display "$DISPLAY" | convert xwd:- "$out/aviso_comprobador.png"
    xdotool windowfocus "$box" 2>/dev/null
    sleep 0.2
    xdotool key Return
    echo "aviso \"ComprobadorOrvane\": captura en $out/aviso_comprobador.png, respondido con Intro"
    # Gone before anything else is looked at, so no second Enter reaches the next window.
    for _ in $(seq 1 30); do
      xdotool search --onlyvisible --name '^ComprobadorOrvane$' >/dev/null 2>&1 || break
      sleep 0.1
    done
  done
}

deadline=$((SECONDS + ${BRIVON_DEMO_TIMEOUT:-600}))
shown=0
failed_shots=0
handled=""
while kill -0 "$program" 2>/dev/null; do
  if [ "$SECONDS" -ge "$deadline" ]; then
    echo "the program still runs after ${BRIVON_DEMO_TIMEOUT:-600} s: ended" >&2
    kill "$program" 2>/dev/null
    wait "$program"
    exit 124
  fi
  answer_checkin_box
  window=$(alert_windows | head -n 1)
  # An update window ignores the click and stays until its update ends: it is shown only once.
  if [ -z "$window" ] || [[ " $handled " == *" $window "* ]]; then
    sleep 0.2
    continue
  fi
  handled="$handled $window"
  sleep 1.5  # its first paint, and a terms document's download
  shown=$((shown + 1))
  shot="$out/alerta_$shown.png"
  # A loaded machine's X server can show the window later than Wine does: until its title band is
  # on the screen, the root (black) is. A picture of one colour is never kept.
  saved=""
  for _ in $(seq 1 25); do
    xwd -root -silent -display "$DISPLAY" | convert xwd:- "$shot.tmp.png"
    if [ "$(convert "$shot.tmp.png" -format '%[hex:p{5,5}]' info: 2>/dev/null)" != "000000" ] &&
      [ "$(convert "$shot.tmp.png" -format '%k' info: 2>/dev/null)" -gt 1 ]; then
      mv "$shot.tmp.png" "$shot"
      saved=yes
      break
    fi
    sleep 0.2
  done
  rm -f "$shot.tmp.png"
  if [ -z "$saved" ]; then
    echo "alerta $shown: the screen never showed the window (no screenshot kept)" >&2
    failed_shots=$((failed_shots + 1))
  else
    echo "alerta $shown: captura en $shot"
  fi
  xdotool mousemove "$close_x" "$close_y" click 1
  for _ in $(seq 1 100); do
    alert_windows | grep -qx "$window" || break
    sleep 0.1
  done
done
wait "$program"
code=$?
echo "alertas mostradas: $shown"
[ "$code" = 0 ] && [ "$failed_shots" -gt 0 ] && code=1
exit "$code"

# The Wine session the tests, the demo and the benches run Windows programs in, sourced by the
# other scripts: a throwaway prefix of the build's architecture inside the build folder, Arial
# mapped to Liberation Sans, no crash dialogs, an X server of its own (Xvnc, else Xvfb) with a
# window manager when there is no display, and one persistent wineserver so that each Wine process
# starts in milliseconds.
#   wine_session_ensure   set up what is missing and export the environment
#   wine_session_stop     stop the wineserver and the X server this session started
#   wine ...              runs a Windows program of the build's architecture
: "${BRIVON_BUILD_DIR:?BRIVON_BUILD_DIR must name the build folder}"
: "${BRIVON_ARCH:?BRIVON_ARCH must name the architecture of the build: i686 or x86_64}"

BRIVON_SESSION_SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BRIVON_XVFB_DISPLAY="${BRIVON_XVFB_DISPLAY:-:77}"
# The tests' second lane (BRIVON_LANE=b) has a prefix, a wineserver and an X display of its own,
# 50 above the first's, so that its windows, its clicks and its prefix never meet the first lane's.
if [ "${BRIVON_LANE:-}" = b ]; then
  export WINEPREFIX="$BRIVON_BUILD_DIR/wineprefix-b"
  wine_session_x_display=":$((${BRIVON_XVFB_DISPLAY#:} + 50))"
else
  export WINEPREFIX="$BRIVON_BUILD_DIR/wineprefix"
  wine_session_x_display="$BRIVON_XVFB_DISPLAY"
fi
if [ "$BRIVON_ARCH" = x86_64 ]; then
  # The wrapper 'wine' picks the 32-bit loader whenever wine32 is installed: name the 64-bit pair.
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  export BRIVON_WINE=/usr/lib/wine/wine64
else
  export WINEARCH=win32
  export BRIVON_WINE=wine
  unset WINELOADER WINESERVER
fi
# command: BRIVON_WINE may be the name "wine" itself, which would call this function again.
wine() { command "$BRIVON_WINE" "$@"; }
wineserver() { "${WINESERVER:-/usr/bin/wineserver}" "$@"; }
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

wine_session_display() {
  if [ -z "${DISPLAY:-}" ] || [ "${BRIVON_OWN_DISPLAY:-}" = 1 ] || [ "${BRIVON_LANE:-}" = b ]; then
    export DISPLAY="$wine_session_x_display" BRIVON_OWN_DISPLAY=1
    if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
      (wine_session_x_server >/dev/null 2>&1 </dev/null &)
      for _ in $(seq 1 100); do
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break
        sleep 0.1
      done
    fi
    wine_session_window_manager
  fi
}

# Xvnc when it is installed: its screen takes other sizes (RandR modes), so that a test can
# really change the screen's size while a window shows, as a remote session reconnected from a
# smaller screen does; Xvfb has one size only. No VNC port and no password: only local clients,
# through the display's socket, as with Xvfb.
wine_session_x_server() {
  if command -v Xvnc >/dev/null 2>&1; then
    exec Xvnc "$DISPLAY" -geometry 1920x1080 -depth 24 -SecurityTypes None -rfbport -1 -nolisten tcp
  fi
  exec Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp
}

# A real desktop has a window manager. Without one, Wine waits up to 2 s for it each time a
# full-screen window is hidden, and every alert the tests close pays that wait.
wine_session_window_manager() {
  xprop -display "$DISPLAY" -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
  command -v openbox >/dev/null 2>&1 || return 0
  # New windows are not handed the focus: a window Windows shows without activating it (the alert
  # that steps back for the browser and comes back to the taskbar) stays inactive here too.
  (openbox --sm-disable --config-file "$BRIVON_SESSION_SCRIPTS/openbox-rc.xml" >/dev/null 2>&1 </dev/null &)
  for _ in $(seq 1 50); do
    xprop -display "$DISPLAY" -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.1
  done
}

# Named after the prefix's settings: a prefix made before a setting was added is made again.
wine_session_marker="$WINEPREFIX/.brivon-ready-2"

wine_session_prefix() {
  [ -f "$wine_session_marker" ] && return 0
  mkdir -p "$BRIVON_BUILD_DIR"
  (
    flock 9
    [ -f "$wine_session_marker" ] && exit 0
    rm -rf "$WINEPREFIX"
    if ! wine wineboot -i >/dev/null 2>&1; then
      echo "wine session: Wine could not make the $BRIVON_ARCH prefix $WINEPREFIX ($BRIVON_WINE wineboot failed)" >&2
      exit 1
    fi
    wineserver -w
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # No X input method, as Windows has none: with one, Wine parses X's compose table in every
    # process that makes a window, some 17 ms of CPU a start on this kind of host. These programs
    # take no typed text; keys reach them as before.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v UseXIM /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$wine_session_marker"
  ) 9>"$WINEPREFIX.lock"
}

wine_session_wineserver() {
  # -p keeps the server alive between processes; output redirected or callers would wait on it.
  wineserver -p >/dev/null 2>&1 </dev/null &
  # Start Wine's own services now, with their output to /dev/null: started by a test instead,
  # they would inherit ctest's output pipe and keep ctest waiting for good.
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

wine_session_ensure() {
  wine_session_display
  wine_session_prefix
  wine_session_wineserver
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ "${BRIVON_OWN_DISPLAY:-}" = 1 ] || [ "${BRIVON_LANE:-}" = b ]; then
    pkill -f "^(Xvnc|Xvfb) $wine_session_x_display " >/dev/null 2>&1 || true
  fi
}

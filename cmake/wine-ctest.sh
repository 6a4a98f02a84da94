#!/usr/bin/env bash
# Runs the ctest suite of a Windows (x86_64) build under 64-bit Wine.
# Usage: cmake/wine-ctest.sh BUILD_DIR [ctest arguments...]
# One Xvfb display and one persistent wineserver serve the whole run; the Wine prefix lives in the
# build directory. Both are stopped on every exit path, and every step is bounded in time.
set -euo pipefail
BUILD=$(cd "$1" && pwd)
shift

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX="$BUILD/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# A free display number: the first without a lock file.
display=77
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
  display=$((display + 1))
done
export DISPLAY=":${display}"

xvfb_pid=""
cleanup() {
  timeout 30 "$WINESERVER" -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM

# The display must exist before the wineserver starts, or dialogs cannot be created later.
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display}" ] && break
  sleep 0.1
done

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "-- creating Wine prefix in $WINEPREFIX"
  timeout 300 "$WINE" wineboot --init >/dev/null 2>&1 </dev/null || true
  timeout 120 "$WINESERVER" -w || true
fi
# One server for the whole run (each test starting its own is many times slower).
"$WINESERVER" -p
# Start Wine's services now; otherwise the first test inherits their pipe and ctest waits on it.
timeout 120 "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null || true

cd "$BUILD"
timeout 1800 ctest --output-on-failure --timeout 300 "$@"

#!/usr/bin/env bash
# Runs a Windows test program under Wine beside a native Linux peer (a simulated module served by
# dividezurirer-sim, for example), for the tests of cmake/wine-ctest.sh.
# Usage: cmake/wine-with-peer.sh INFO_FILE PEER_COMMAND... -- WINDOWS_EXE [ARGUMENTS...]
# The peer runs in a session of its own and must write INFO_FILE when it is ready: key=value lines
# (exported to the Windows program as DZ_PEER_<KEY>, e.g. DZ_PEER_SERIAL) or a bare port number
# (DZ_PEER_PORT). "{prefix}" in the peer's arguments stands for the Wine prefix. The peer is
# stopped with SIGTERM when the program ends; the program's exit status is the result.
set -euo pipefail
WINE=${WINE:-/usr/lib/wine/wine64}
info=$1
shift
peer=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  peer+=("${1//\{prefix\}/${WINEPREFIX:-}}")
  shift
done
[ $# -gt 1 ] || { echo "usage: $0 INFO_FILE PEER... -- WINDOWS_EXE [ARGS...]" >&2; exit 2; }
shift
[ -x "${peer[0]}" ] || { echo "native peer ${peer[0]} is missing: build the native tree first (./dev build)" >&2; exit 2; }

rm -f "$info"
setsid "${peer[@]}" </dev/null &
peer_pid=$!
stop_peer() {
  kill -TERM "$peer_pid" 2>/dev/null || return 0
  for _ in $(seq 100); do kill -0 "$peer_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$peer_pid" 2>/dev/null || true
  wait "$peer_pid" 2>/dev/null || true
}
trap stop_peer EXIT INT TERM

for _ in $(seq 200); do
  [ -s "$info" ] && break
  kill -0 "$peer_pid" 2>/dev/null || { echo "native peer ended before it was ready" >&2; exit 1; }
  sleep 0.1
done
[ -s "$info" ] || { echo "native peer did not write $info within 20 s" >&2; exit 1; }
while IFS= read -r line; do
  case "$line" in
    *=*) key=${line%%=*}; export "DZ_PEER_${key^^}=${line#*=}" ;;
    [0-9]*) export DZ_PEER_PORT="$line" ;;
  esac
done <"$info"

status=0
"$WINE" "$@" || status=$?
exit "$status"

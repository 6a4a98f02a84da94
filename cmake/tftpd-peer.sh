#!/usr/bin/env bash
# tftpd-hpa (in.tftpd, Debian package tftpd-hpa) on a free loopback port, refusing the block-size
# option, as a native peer of the Windows tests (cmake/wine-with-peer.sh). Writes port= and dir=
# (the served folder, where an upload lands as boot.bin) into INFO_FILE, or unavailable=1 when the
# server, its user or the right to hand the folder to that user is missing; serves until SIGTERM,
# then removes the folder.
# Usage: cmake/tftpd-peer.sh INFO_FILE
set -uo pipefail
info=$1
publish() {
  printf '%s\n' "$@" >"$info.part" && mv "$info.part" "$info"
}
if [ ! -x /usr/sbin/in.tftpd ] || ! id tftp >/dev/null 2>&1; then
  publish unavailable=1
  exec sleep 600
fi
dir=$(mktemp -d /tmp/dz_tftpd.XXXXXX)
server=""
stop() {
  trap - TERM INT EXIT
  rm -rf "$dir" "$dir.pid"
  # The server forks a process for each transfer: the whole process group goes (the wrapper
  # started this script as the leader of a session of its own).
  kill -TERM -- -$$ 2>/dev/null
  exit 0
}
trap stop TERM INT EXIT
if ! chown tftp:tftp "$dir" 2>/dev/null; then
  # The server drops to the tftp user, which must own the folder: only root can arrange that.
  publish unavailable=1
  sleep 600 &
  wait $!
  exit 0
fi
for _ in $(seq 20); do
  port=$((20000 + RANDOM % 40000))
  timeout --foreground 600 /usr/sbin/in.tftpd -L -4 -a "127.0.0.1:$port" -c -s -u tftp --refuse blksize \
    -P "$dir.pid" "$dir" >/dev/null 2>&1 &
  server=$!
  sleep 0.3
  if kill -0 "$server" 2>/dev/null; then
    publish "port=$port" "dir=$dir"
    wait "$server"
    exit 0
  fi
  server=""
done
echo "in.tftpd did not start on any port tried" >&2
exit 1

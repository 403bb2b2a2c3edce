#!/usr/bin/env bash
# A real publication out of the box: installs what is missing, builds, generates a small sample site,
# starts an FTP server (python3-pyftpdlib) on a free port of 127.0.0.1 with a throw-away account, writes
# a settings file into a private XDG_CONFIG_HOME and runs parcelup against it. Afterwards it prints the
# server's folder tree and stops the server.
#   tools/demo.sh               with the window (under Xvfb when there is no display)
#   tools/demo.sh --no-window   in the terminal
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

mode=window
case "${1:-}" in
  --no-window) mode=terminal ;;
  "") ;;
  *) echo "usage: tools/demo.sh [--no-window]" >&2; exit 64 ;;
esac

tools/dev/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target parcelup
binary=$repo/build/dev/app/parcelup

work=$(mktemp -d "${TMPDIR:-/tmp}/parcelup-demo.XXXXXX")
server_pid=
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

site=$work/site
server_root=$work/server
mkdir -p "$server_root/htdocs" "$work/config/vellumix" "$work/state"
tools/dev/make-sample-site.sh "$site"

user=demo
password=$(head -c 12 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')
/usr/bin/python3 tests/servers/ftpserver.py --root "$server_root" --user "$user" --password "$password" \
  > "$work/server.out" 2> "$work/server.log" &
server_pid=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$work/server.out" | head -n 1)
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "the FTP server did not start" >&2; exit 1; }
echo "FTP server: 127.0.0.1:$port (PID $server_pid), account $user"

cat > "$work/config/vellumix/vellumix.ini" <<INI
[parcelup]
FTPLocalBaseDir=$site
FTPRemoteBaseDir=htdocs
FTPRemoteURL=http://127.0.0.1/
FTPHost=127.0.0.1:$port
FTPLogonName=$user
FTPPassword=$password
FTPPassive=1
FTPDelete=1
INI

export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
status=0
if [ "$mode" = terminal ]; then
  "$binary" --no-window || status=$?
elif [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Close the window when you have seen the result."
  "$binary" || status=$?
else
  # No display: run the window on a virtual one. Nobody can press "Schließen" there, so once the
  # upload log is on the server and the program has closed its FTP session, the demo takes a
  # screenshot and closes the window with SIGTERM, which Parcelup treats like the close button.
  xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    "$1" & pid=$!
    for _ in $(seq 1 1200); do
      kill -0 "$pid" 2>/dev/null || break
      if [ -f "$2/htdocs/vellumixftplog.log" ] &&
         [ -z "$(ss -Htn state established "( dport = :$3 )")" ]; then break; fi
      sleep 0.1
    done
    if command -v import >/dev/null; then import -window root "$4" && echo "Screenshot: $4"; fi
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"' _ "$binary" "$server_root" "$port" "$repo/build/demo-window.png" || status=$?
fi

echo
echo "Server folder after the publication:"
(cd "$server_root" && find . -mindepth 1 | sort | sed 's|^\./||')
echo "parcelup exit status: $status"

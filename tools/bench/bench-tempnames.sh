#!/usr/bin/env bash
# What temporary names cost a real publication on one connection: files per second for a run that
# replaces FILES existing files (default 400, SIZE bytes each, default 2000; a quarter of them
# pages) on a server that answers every command DELAY seconds late (default 0.02), with temporary
# names and renames (the default), and with files stored straight under their names (the
# destination marked as one whose server takes no temporary names); next to
# "lftp mirror -R" with xfer:use-temp-file on, serially and with -P 4.
#
#   tools/bench/bench-tempnames.sh [BUILD_DIR]        default build/dev; RUNS=3 repeats each
set -euo pipefail
cd "$(dirname "$0")/../.."
. tools/bench/testserver.sh

build=${1:-build/dev}
program="$build/app/parcelup"
files=${FILES:-400}
size=${SIZE:-2000}
delay=${DELAY:-0.02}
runs=${RUNS:-3}
[ -x "$program" ] || { echo "$program is missing: cmake --build --preset dev" >&2; exit 2; }
command -v lftp >/dev/null || { echo "lftp is missing (Debian package lftp)" >&2; exit 2; }

# The server writes into memory: its disk is not what is measured.
work=$(mktemp -d /dev/shm/parcelup-tempnames.XXXXXX 2>/dev/null || mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root/htdocs" "$work/root/lftp" "$work/site/bilder" "$work/state" "$work/config" \
  "$work/runtime"
chmod 700 "$work/runtime"
# New bytes of the same size in every file, as a site builder that changed every page writes them.
write_site() { # SEED
  local i
  for i in $(seq -w 1 "$files"); do
    if [ $((10#$i % 4)) -eq 0 ]; then
      head -c "$size" /dev/urandom >"$work/site/seite$i.html"
    else
      head -c "$size" /dev/urandom >"$work/site/bilder/bild$i.png"
    fi
  done
}

start_test_server "$work/server.out" --root "$work/root" --user tester --password secret \
  --delay "$delay"
cat >"$work/publish.ini" <<INI
[parcelup]
FTPLocalBaseDir=$work/site
FTPRemoteBaseDir=htdocs
FTPHost=ftp://127.0.0.1:$port
FTPLogonName=tester
FTPPassword=secret
FTPPassive=1
FTPDelete=1
INI

publish() {
  XDG_STATE_HOME=$work/state XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime \
    "$program" --no-window --settings "$work/publish.ini" >"$work/run.out" 2>&1 ||
    { cat "$work/run.out" >&2; exit 1; }
}
mirror() { # PARALLEL
  lftp -u tester,secret -p "$port" 127.0.0.1 -e "set xfer:use-temp-file on; set ftp:ssl-allow no;
    mirror -R --no-perms -P $1 $work/site /lftp; quit" >/dev/null
}
seconds() { # COMMAND...
  local start end
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
rate() { # SECONDS
  printf '%.1f files/s (%.2f s)' "$(echo "$files / $1" | bc -l)" "$1"
}
markers="$work/state/vellumix/parcelup/markers.sqlite"
direct() { # on|off
  /usr/bin/python3 - "$markers" "$1" <<'PY'
import sqlite3, sys
store = sqlite3.connect(sys.argv[1])
store.execute("DELETE FROM direct_uploads")
if sys.argv[2] == "on":
    store.execute("INSERT INTO direct_uploads SELECT DISTINCT destination FROM published")
store.commit()
PY
}

echo "server: tests/servers/ftpserver.py --delay $delay; $files files of $size bytes replaced, $runs runs each"
write_site
publish
mirror 1
for run in $(seq "$runs"); do
  for way in temporary direct; do
    write_site
    [ "$way" = direct ] && direct on || direct off
    t=$(seconds publish)
    echo "parcelup, $way names: $(rate "$t")"
  done
  for parallel in 1 4; do
    write_site
    t=$(seconds mirror "$parallel")
    echo "lftp mirror -R -P $parallel, xfer:use-temp-file on: $(rate "$t")"
  done
done
for file in "$work"/site/*.html "$work"/site/bilder/*; do
  relative=${file#"$work/site/"}
  cmp -s "$file" "$work/root/lftp/$relative" || { echo "$relative arrived damaged (lftp)" >&2; exit 1; }
done
leftovers=$(find "$work/root/htdocs" -name '.*' | wc -l)
[ "$leftovers" -eq 0 ] || { echo "$leftovers temporary files were left" >&2; exit 1; }
echo "commit $(git rev-parse --short HEAD)"

#!/usr/bin/env bash
# What uploading under a temporary name and renaming costs per file, against uploading straight,
# on a server that answers every command DELAY seconds late (default 0.02, a server far away):
# tools/bench/renamecost.cpp uploads FILES small files (default 200, SIZE bytes each, default
# 2000) under their own names, then again each to a temporary name followed by RNFR and RNTO.
#
#   tools/bench/bench-rename.sh [BUILD_DIR]        default build/dev
set -euo pipefail
cd "$(dirname "$0")/../.."
. tools/bench/testserver.sh

build=${1:-build/dev}
driver="$build/tools/parcelup_renamecost"
files=${FILES:-200}
size=${SIZE:-2000}
delay=${DELAY:-0.02}
[ -x "$driver" ] || { echo "$driver is missing: cmake --build --preset dev" >&2; exit 2; }

# The server writes into memory: its disk is not what is measured.
work=$(mktemp -d /dev/shm/parcelup-rename.XXXXXX 2>/dev/null || mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/root" "$work/site"
for i in $(seq -w 1 "$files"); do head -c "$size" /dev/urandom >"$work/site/page$i.html"; done

start_test_server "$work/server.out" --root "$work/root" --user tester --password secret \
  --delay "$delay"

echo "server: tests/servers/ftpserver.py --delay $delay; $files files of $size bytes"
"$driver" --host "127.0.0.1:$port" --user tester --password secret --folder "$work/site"
for file in "$work/site"/*; do
  cmp -s "$file" "$work/root/${file##*/}" || { echo "${file##*/} arrived damaged" >&2; exit 1; }
done
leftovers=$(find "$work/root" -name '.*' | wc -l)
[ "$leftovers" -eq 0 ] || { echo "$leftovers temporary files were left" >&2; exit 1; }
echo "commit $(git rev-parse --short HEAD)"

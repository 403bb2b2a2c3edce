#!/usr/bin/env bash
# Times the local scan on a generated site of 20,000 files in 500 folders, next to the time "find"
# needs just to list the same files.
#   tools/bench/bench-scan.sh [build-dir]     default build/dev
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/dev}
bench="$build/tools/bench-scan"
[ -x "$bench" ] || { echo "build first: cmake --build --preset dev (missing $bench)" >&2; exit 1; }

work=$(mktemp -d)
# The marker store on a memory file system when there is one: recording 20,000 uploads one commit
# at a time is only the set-up, and the scan itself only reads the store.
state=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work" "$state"' EXIT
site="$work/site"
# A private marker store, so the user's own is never touched.
export XDG_STATE_HOME="$state"

"$bench" create "$site"
"$bench" clear-markers "$site"

# Both sides with a warm cache: each is run once before it is timed.
find "$site" -type f | wc -l >/dev/null
start=$(date +%s%N)
count=$(find "$site" -type f | wc -l)
end=$(date +%s%N)
find_ms=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.1f", ns / 1e6 }')

"$bench" measure "$site" >/dev/null
result=$("$bench" measure "$site")

echo
echo "site: $count files in $(find "$site" -mindepth 1 -type d | wc -l) folders"
printf '%-44s %s\n' "find DIR -type f | wc -l" "$find_ms ms"
printf '%-44s %s\n' "BuildFileLog + WriteFileLog + ScanLocalSubDir" \
  "$(awk '/^scan total/ { print $3, $4 }' <<<"$result")"
echo
echo "$result"

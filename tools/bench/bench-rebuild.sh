#!/usr/bin/env bash
# A rebuilt site: 2,000 files (about 200 MB) in 40 folders are published once, then a script
# writes every file again with the same bytes, as site generators do (half in place, half by
# renaming a new file over the old one), and really changes two of them (one keeps its size).
# Side by side in one run, each timed figure the median of RUNS runs (default 5), warm cache:
#
#   1. the files the next publication uploads, from the server's command log
#                                                          goal: 3 (the two and the upload log)
#   2. the scan of the rewritten site: what a preview (--dry-run: scan, log-in, old log; changes
#      nothing, so it can be repeated) of the rewritten site costs more than one of the untouched
#      site, that is the reading and comparing of contents, next to xxhsum -H2 (the same digest)
#      over the same files, found by find                  goal: at most 1.5 times xxhsum
#   3. the scan of the untouched site after that publication: the same preview with this build
#      and with the baseline's program (default: the branch main, built here), and the site files
#      the preview reads (strace)                          goal: no slower, no file read
#
# Ends with a summary of the figures, their goals, the commit and the command.
#   tools/bench/bench-rebuild.sh     RUNS=3 BASELINE=/path/to/parcelup tools/bench/bench-rebuild.sh
#   BASELINE_REF=<commit> picks the commit built as the baseline.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)
runs=${RUNS:-5}
python=/usr/bin/python3
tools/dev/install-deps.sh
command -v strace >/dev/null || apt-get install -y -qq strace
command -v xxhsum >/dev/null || apt-get install -y -qq xxhash
cmake --preset release >/dev/null && cmake --build --preset release -j "$(nproc)" --target parcelup >/dev/null
parcelup=$repo/build/release/app/parcelup

work=$(mktemp -d /tmp/parcelup-rebuild.XXXXXX)
# The server writes into memory: a real server's disk is not the publisher's.
server_root=$(mktemp -d /dev/shm/parcelup-rebuild-server.XXXXXX)
server_pid=
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work" "$server_root"' EXIT

baseline=${BASELINE:-}
baseline_ref=${BASELINE_REF:-main}
if [ -z "$baseline" ]; then
  echo "building the baseline ($baseline_ref) ..."
  mkdir -p "$work/baseline"
  git archive "$baseline_ref" | tar -x -C "$work/baseline"
  (cd "$work/baseline" && cmake --preset release >/dev/null &&
    cmake --build --preset release -j "$(nproc)" --target parcelup >/dev/null)
  baseline=$work/baseline/build/release/app/parcelup
  baseline_name="$baseline_ref ($(git rev-parse --short "$baseline_ref"))"
else
  baseline_name=$baseline
fi

# --- the site, the server, the settings

site=$work/site
$python - "$site" <<'PY'
import os, random, sys
site = sys.argv[1]
generator = random.Random(27)
for folder in range(40):
    path = os.path.join(site, f"bereich{folder:02}")
    os.makedirs(path)
    for page in range(50):
        # 50 to 150 KB: 2,000 files, about 200 MB.
        size = generator.randrange(50_000, 150_000)
        with open(os.path.join(path, f"seite{page:02}.html"), "wb") as file:
            file.write(generator.randbytes(size))
PY

commands=$work/commands.log
$python tests/servers/ftpserver.py --root "$server_root" --user bench --password bench-rebuild \
  --command-log "$commands" > "$work/server.out" 2>/dev/null &
server_pid=$!
for _ in $(seq 1 100); do
  grep -q '^PORT ' "$work/server.out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/^PORT //p' "$work/server.out")
[ -n "$port" ] || { echo "the FTP server did not start" >&2; exit 1; }

cat > "$work/publish.ini" <<INI
[parcelup]
FTPLocalBaseDir=$site
FTPRemoteBaseDir=htdocs
FTPHost=127.0.0.1:$port
FTPLogonName=bench
FTPPassword=bench-rebuild
FTPPassive=1
INI
export XDG_STATE_HOME=$work/state
debug_log() { cat "$repo/build/release/app/parcelup.log" "$XDG_STATE_HOME/vellumix/parcelup/parcelup.log" 2>/dev/null || true; }
publish() {
  "$parcelup" --no-window --settings "$work/publish.ini" > "$work/publish.out" ||
    { echo "the publication failed:" >&2; tail -n 5 "$work/publish.out" >&2; exit 1; }
}
preview() { # program
  tools/bench/measure.py "$1" --no-window --dry-run --settings "$work/publish.ini"
}
# The site files a preview reads (read calls on them, the upload log left out).
files_read() { # program
  strace -f -qq -y -e trace=read,pread64,readv,preadv -o "$work/trace" \
    "$1" --no-window --dry-run --settings "$work/publish.ini" >/dev/null
  { grep -o "<$site/[^>]*>" "$work/trace" || true; } | { grep -v '/vellumixftplog.log>' || true; } |
    sort -u | wc -l
}
median() { # [field]: the median of a figure (WALL, CPU) of the measure.py lines on stdin
  $python -c '
import statistics, sys
rows = [dict(zip(l.split()[0::2], l.split()[1::2])) for l in sys.stdin if l.startswith("WALL")]
print("%.3f" % statistics.median(float(r[sys.argv[1]]) for r in rows))' "${1:-WALL}"
}
stors_of_last_run() {
  awk '/^USER / { n = 0 } /^STOR / { n++ } END { print n + 0 }' "$commands"
}

echo "first publication of $(find "$site" -type f | wc -l) files ..."
publish

# --- the rebuild: every file written again, two really changed

$python - "$site" <<'PY'
import os, sys
site = sys.argv[1]
for index, (folder, _, names) in enumerate(sorted(os.walk(site))):
    for number, name in enumerate(sorted(names)):
        if name == "vellumixftplog.log":
            continue
        path = os.path.join(folder, name)
        with open(path, "rb") as file:
            content = file.read()
        if (index + number) % 2:
            with open(path + ".neu", "wb") as file:
                file.write(content)
            os.replace(path + ".neu", path)
        else:
            with open(path, "wb") as file:
                file.write(content)
same_size = os.path.join(site, "bereich07", "seite11.html")
with open(same_size, "r+b") as file:
    first = file.read(1)
    file.seek(0)
    file.write(bytes([first[0] ^ 1]))
with open(os.path.join(site, "bereich31", "seite42.html"), "ab") as file:
    file.write(b"<p>neu</p>")
PY
sleep 0.1 # past the tick of the file clock, as any real build is by the time it publishes

# The peer does what the scan does for a rewritten site: find the files and digest each one.
xxh() {
  tools/bench/measure.py bash -c \
    'find "$1" -type f ! -name vellumixftplog.log -print0 | xargs -0 xxhsum -H2 >/dev/null' - "$site"
}
site_files=$(find "$site" -type f ! -name vellumixftplog.log | wc -l)

# Warm cache for both, then taking turns.
xxh >/dev/null
preview "$parcelup" >/dev/null
xxh_lines= rewritten_lines=
for _ in $(seq 1 "$runs"); do
  xxh_lines+=$(xxh)$'\n'
  rewritten_lines+=$(preview "$parcelup")$'\n'
done
xxh_s=$(median <<<"$xxh_lines")
rewritten_s=$(median <<<"$rewritten_lines")
rewritten_read=$(files_read "$parcelup")
listed=$("$parcelup" --no-window --dry-run --settings "$work/publish.ini" | grep -c '^Würde übertragen:' || true)

# --- the publication of the rebuilt site

publish
uploaded=$(stors_of_last_run)
note=$(debug_log | grep -o 'Inhaltsvergleich:.*' | tail -1 || true)

# --- the untouched site: this build against the baseline

preview "$parcelup" >/dev/null
preview "$baseline" >/dev/null
ours_lines= base_lines=
# Each goes first in every other round, so neither always finds the caches as the other left them.
for round in $(seq 1 "$runs"); do
  if ((round % 2)); then
    ours_lines+=$(preview "$parcelup")$'\n'
    base_lines+=$(preview "$baseline")$'\n'
  else
    base_lines+=$(preview "$baseline")$'\n'
    ours_lines+=$(preview "$parcelup")$'\n'
  fi
done
ours_s=$(median <<<"$ours_lines")
base_s=$(median <<<"$base_lines")
ours_cpu=$(median CPU <<<"$ours_lines")
base_cpu=$(median CPU <<<"$base_lines")
untouched_read=$(files_read "$parcelup")
compare_s=$(awk -v a="$rewritten_s" -v b="$ours_s" 'BEGIN { printf "%.3f", a - b }')

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { if [ "$1" = 1 ]; then echo met; else echo MISSED; fi; }
row() { printf '%-62s %-12s %s\n' "$@"; }
echo
echo "Rebuilt site: $site_files files, $(du -sm "$site" | cut -f1) MB; medians of $runs runs, warm cache"
echo "  the preview of the rewritten site lists $listed uploads and reads $rewritten_read site files"
echo "  the debug log of the publication: $note"
echo
row "figure" "measured" "goal"
row "1. files uploaded after the rebuild (STOR)" "$uploaded" "3 ($(verdict $((uploaded == 3))))"
row "2. preview of the rewritten site" "${rewritten_s} s" ""
row "   preview of the untouched site" "${ours_s} s" ""
row "   the difference: reading and comparing contents" "${compare_s} s" "≤ 1.5 × xxhsum"
row "   find | xargs xxhsum -H2 over the same files" "${xxh_s} s" ""
row "   ratio" "$(ratio "$compare_s" "$xxh_s")" \
  "≤ 1.50 ($(verdict "$(awk -v a="$compare_s" -v b="$xxh_s" 'BEGIN { print (a <= 1.5 * b) }')"))"
row "   (the whole preview of the rewritten site against xxhsum)" "$(ratio "$rewritten_s" "$xxh_s")" ""
row "3. preview of the untouched site, this build" "${ours_s} s" "≤ baseline"
row "   the same, baseline" "${base_s} s" "$baseline_name"
row "   ratio" "$(ratio "$ours_s" "$base_s")" \
  "≤ 1.00 + 5 % noise ($(verdict "$(awk -v a="$ours_s" -v b="$base_s" 'BEGIN { print (a <= 1.05 * b) }')"))"
row "   processor time, this build against the baseline" "$ours_cpu s / $base_cpu s" \
  "ratio $(ratio "$ours_cpu" "$base_cpu")"
row "   site files read" "$untouched_read" "0 ($(verdict $((untouched_read == 0))))"
echo
echo "commit $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . || echo ' with local changes'); command: RUNS=$runs tools/bench/bench-rebuild.sh"

#!/usr/bin/env bash
# Builds a preset, then runs test suites again and again until one fails or every run has passed,
# to tell a fixed intermittent failure from one that merely did not show up this time. Each run is
# one ctest call over all the suites named, one suite after the other.
#
#   tools/dev/repeat-suites.sh [-p PRESET] [-n RUNS] [SUITE...]
#     -p PRESET  configure, build and test preset (default: asan, where timing differs most)
#     -n RUNS    runs in a row (default: 30)
#     SUITE      ctest test names (default: the suites that move data over TLS or through a proxy:
#                tst_ftpproxy tst_ftptls tst_publishsession)
#
# Examples:
#   tools/dev/repeat-suites.sh                              30 asan runs of the default suites
#   tools/dev/repeat-suites.sh -p dev -n 100 tst_ftpproxy   100 dev runs of one suite
#
# Prints "N of M runs passed" at the end. Exit status 0 when every run passed; 1 at the first
# failing run, whose ctest output stays in build/<preset>/repeat-suites-failure.log; 2 for wrong
# usage or a failed build. Builds with -j2: the machines have two cores.
set -euo pipefail
cd "$(dirname "$0")/../.."

preset=asan
runs=30
while getopts "p:n:h" option; do
  case "$option" in
    p) preset=$OPTARG ;;
    n) runs=$OPTARG ;;
    h) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if ! [[ "$runs" =~ ^[1-9][0-9]*$ ]]; then
  echo "repeat-suites: -n wants a positive number of runs, not \"$runs\"" >&2
  exit 2
fi
suites=("$@")
[ ${#suites[@]} -eq 0 ] && suites=(tst_ftpproxy tst_ftptls tst_publishsession)

# ctest takes a regular expression; each name is matched whole.
pattern="^($(IFS='|'; echo "${suites[*]}"))\$"

echo "=== ${preset}: configure and build"
cmake --preset "$preset" >/dev/null || exit 2
cmake --build --preset "$preset" -j2 >/dev/null || exit 2

log="build/${preset}/repeat-suites-failure.log"
rm -f "$log"
found=$(ctest --preset "$preset" -N -R "$pattern" | sed -n 's/^Total Tests: //p')
if [ "${found:-0}" -ne ${#suites[@]} ]; then
  echo "repeat-suites: ${#suites[@]} suites named, ${found:-0} known to ctest: ${suites[*]}" >&2
  exit 2
fi

echo "=== ${preset}: ${suites[*]}, up to ${runs} runs"
passed=0
started=$SECONDS
for ((run = 1; run <= runs; run++)); do
  output=$(mktemp)
  if ctest --preset "$preset" -R "$pattern" >"$output" 2>&1; then
    passed=$((passed + 1))
    echo "run ${run}: passed ($((SECONDS - started)) s so far)"
    rm -f "$output"
  else
    mv "$output" "$log"
    echo "run ${run}: FAILED; its output is in ${log}:"
    grep -E '^(FAIL!|   (Actual|Expected|Loc))|Failed|\*\*\*' "$log" | head -n 40 || true
    echo "${passed} of ${runs} runs passed; run ${run} failed"
    exit 1
  fi
done
echo "${passed} of ${runs} runs passed"

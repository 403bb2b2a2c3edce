#!/usr/bin/env bash
# The randomized fault soak through the real program, longer than the test suite's short one:
# runs with one random fault each, every one followed by the repair run and the check that the
# server equals the site. Prints runs, faults injected and invariant failures; a failure names
# its seed, which --seed SEED --runs 1 replays.
#   tools/dev/soak.sh [--runs N] [--faults N] [--seed SEED] [--seconds LIMIT] [--preset dev|asan]
# --faults stops once that many faults struck (a fault drawn for the N-th occurrence of a command
# the run sends fewer times does not), so that --runs 1000 --faults 300 means 300 faulted runs.
set -euo pipefail
cd "$(dirname "$0")/../.."

runs=300
seed=$(( $(date +%s) % 1000000 ))
seconds=0
faults=0
preset=dev
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --faults) faults=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --preset) preset=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

binary=build/$preset/tests/e2e/tst_faultsoak
if [ ! -x "$binary" ]; then
  echo "$binary is missing: cmake --preset $preset && cmake --build --preset $preset" >&2
  exit 2
fi
# Qt Test ends a test function after five minutes by default; a run takes a few seconds.
export QTEST_FUNCTION_TIMEOUT=$(( (runs * 30 + 300) * 1000 ))
export PARCELUP_SOAK_RUNS=$runs PARCELUP_SOAK_SEED=$seed PARCELUP_SOAK_SECONDS=$seconds
export PARCELUP_SOAK_FAULTS=$faults
echo "soak: $runs runs from seed $seed"
# The server's notes on restarts are expected; the soak's own lines and the failures are not.
"$binary" 2>&1 | grep -v '^WARNING:root:restarting'

#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs the whole test suite twice: as a normal
# development build and with AddressSanitizer and UndefinedBehaviorSanitizer.
#   tools/test.sh          both builds
#   tools/test.sh dev      only the development build
set -euo pipefail
cd "$(dirname "$0")/.."

tools/dev/install-deps.sh

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(dev asan)
jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "=== ${preset}: configure, build, test"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"
done

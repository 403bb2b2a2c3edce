#!/usr/bin/env bash
# Builds the release preset and makes the Debian package from it; the last line printed is the
# package's path.
#   tools/package.sh             everything the package holds
#   tools/package.sh --check     and then lintian on the package (fails on errors, lists warnings)
# Needs dpkg-dev (dpkg-shlibdeps computes Depends) and, for --check, lintian.
set -euo pipefail
cd "$(dirname "$0")/.."

check=
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) echo "usage: tools/package.sh [--check]" >&2; exit 64 ;;
esac

build=build/release
cmake --preset release >&2
cmake --build --preset release -j "$(nproc)" >&2
# A package from an earlier version must not be mistaken for this one.
rm -f "$build"/parcelup_*.deb
(cd "$build" && cpack -G DEB) >&2
package=$(ls "$build"/parcelup_*.deb)
if [ -n "$check" ]; then
  # Informational tags are not shown; warnings are listed but only errors fail.
  lintian --fail-on error --tag-display-limit 0 "$package" >&2
fi
realpath "$package"

#!/usr/bin/env bash
# Takes pictures of the progress window in all its states under Xvfb, with the fonts of a plain
# Linux desktop, at 96 dots per inch and at 192 (once through Qt's scale factor, once through the
# X server's density as a desktop would set it). The pictures land in tools/out/.
#   tools/assets/screenshot-window.sh [BUILD-DIR]     default build/dev
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build/dev}
cmake --build "$build" --target parcelup_screenshot -j2
out=tools/out
mkdir -p "$out"
program=$(realpath "$build/tools/parcelup_screenshot")
clip=$(realpath resources/ftp.dat)

# shoot NAME XVFB-DPI XFT-DPI [VARIABLE=VALUE...]
# -noreset keeps the X resources: without it the server forgets them when xrdb disconnects.
shoot() {
  local name=$1 dpi=$2 xft=$3
  shift 3
  xvfb-run -a -s "-screen 0 1600x1000x24 -dpi $dpi -noreset" \
    env -u QT_QPA_PLATFORM -u QT_SCALE_FACTOR -u QT_FONT_DPI "$@" sh -c \
    "echo 'Xft.dpi: $xft' | xrdb -nocpp -merge && exec '$program' '$clip' '$out/$name'"
}

shoot 96dpi 96 96
shoot 192dpi-scale 96 96 QT_SCALE_FACTOR=2
shoot 192dpi-xft 192 192
ls -l "$out"

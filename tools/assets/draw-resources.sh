#!/usr/bin/env bash
# Redraws the window's pictures, the program icon and the animation clip into resources/.
# The results are committed; run this only after changing tools/assets/drawresources/.
#   tools/assets/draw-resources.sh [BUILD-DIR]     default build/dev (built first)
# Needs ImageMagick's convert to turn the frames into a GIF, which Qt's movie player reads; the
# clip keeps the name ftp.dat that the window looks for.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build/dev}
cmake --build "$build" --target parcelup_drawresources -j2
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT

"$build/tools/parcelup_drawresources" resources/pictures "$frames"
# 48 frames of 60 ms. Every frame replaces the previous one completely ("Background" disposal),
# so transparent parts never keep an older frame's pixels. No dithering: a dither pattern that
# differs from frame to frame makes the globe shimmer.
convert -dispose Background -delay 6 -loop 0 "$frames"/frame-*.png \
  +dither -layers RemoveDups gif:resources/ftp.dat
ls -l resources/pictures resources/ftp.dat

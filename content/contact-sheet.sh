#!/usr/bin/env bash
# Draws one frame of each scene with bumpwave-frames and lays them out as
# docs/contact-sheet.png (needs ImageMagick). Run from the repository after a
# build: content/contact-sheet.sh [BUILD_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
cd "$build"
./bumpwave-frames --seed 2026 --out "$frames" \
    --times 0x230,13751x140,20001x30,32001x10,38001x7,39001x60 --save 229,270,369,399,409,450
labels=("bump lights" "plasma fading in" "plasma" "dot grid" "logo" "fading out")
args=()
i=0
for frame in "$frames"/frame-*.ppm; do
    args+=(-label "${labels[$i]}" "$frame")
    i=$((i + 1))
done
montage "${args[@]}" -tile 3x2 -geometry 320x240+4+4 -background '#202020' -fill '#e0e0e0' \
    -pointsize 14 "$root/docs/contact-sheet.png"
echo "wrote $root/docs/contact-sheet.png"

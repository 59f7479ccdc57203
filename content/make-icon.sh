#!/usr/bin/env bash
# Draws the frame halfway through the scene of the logo over the plasma with
# bumpwave-frames --at and crops it into packaging/bumpwave.png, the 128 × 128
# icon of the desktop entry (needs ImageMagick). Run from the repository after
# a build: content/make-icon.sh [BUILD_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
cd "$build"
read -r _ first last < <(./bumpwave-frames --scenes | grep '^overlay ')
./bumpwave-frames --seed 2026 --out "$frames" --at $(((first + last) / 2))
convert "$frames/frame-00000.ppm" -crop 340x340+150+140 +repage -resize 128x128 -strip \
    "png:$root/packaging/bumpwave.png"
echo "wrote $root/packaging/bumpwave.png"

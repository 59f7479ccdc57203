#!/usr/bin/env bash
# Draws each scene's frame halfway through it with bumpwave-frames --at and lays
# them out as docs/contact-sheet.png (needs ImageMagick), labelled with the
# scenes' own names. Run from the repository after a build:
# content/contact-sheet.sh [BUILD_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
cd "$build"
names=() moments=()
while read -r name first last; do
    names+=("$name") moments+=($(((first + last) / 2)))
done < <(./bumpwave-frames --scenes)
./bumpwave-frames --seed 2026 --out "$frames" --at "$(IFS=,; echo "${moments[*]}")"
args=()
for i in "${!names[@]}"; do
    args+=(-label "${names[$i]}" "$frames/$(printf 'frame-%05d.ppm' "$i")")
done
montage "${args[@]}" -tile 4x2 -geometry 320x240+4+4 -background '#202020' -fill '#e0e0e0' \
    -pointsize 14 "$root/docs/contact-sheet.png"
echo "wrote $root/docs/contact-sheet.png"

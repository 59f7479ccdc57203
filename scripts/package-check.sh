#!/usr/bin/env bash
# Installs a build into a temporary prefix and packages it as a .deb, and checks
# that both hold every file a user needs: scripts/package-check.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
files=(bin/bumpwave bin/bumpwave-frames bin/bumpwave-view share/bumpwave/bumpmap.png
    share/bumpwave/boys.jpg share/bumpwave/testing.ogg share/applications/bumpwave.desktop
    share/icons/hicolor/128x128/apps/bumpwave.png share/man/man6/bumpwave.6)
[[ -e $build/bumpwave-record ]] && files+=(bin/bumpwave-record)
missing=0

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in "${files[@]}"; do
    [[ -s $prefix/$file ]] || { echo "cmake --install left out $file"; missing=1; }
done
# The demo reads its files from its current folder: the entry must start it there.
grep -qx "Path=$prefix/share/bumpwave" "$prefix/share/applications/bumpwave.desktop" ||
    { echo "the desktop entry does not start the demo in $prefix/share/bumpwave"; missing=1; }

rm -f "$build"/bumpwave_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build"/bumpwave_*.deb)
contents=$(dpkg-deb --contents "$deb")
for file in "${files[@]}"; do
    grep -q " \./usr/$file\$" <<<"$contents" || { echo "$deb lacks /usr/$file"; missing=1; }
done
depends=$(dpkg-deb --field "$deb" Depends)
for library in libsdl2 libvorbisfile libpng libjpeg; do
    grep -q "$library" <<<"$depends" || { echo "$deb does not depend on $library"; missing=1; }
done
((missing == 0)) && echo "installed and packaged: ${#files[@]} files; $deb depends on $depends"
exit "$missing"

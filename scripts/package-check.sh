#!/usr/bin/env bash
# Installs a build into a temporary prefix and packages it as a .deb, and checks
# that both hold every file a user needs, that the installed demo finds its
# files from any folder, and that lintian finds no error, warning or missing
# hardening in the .deb:
# scripts/package-check.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
files=(bin/bumpwave bin/bumpwave-frames bin/bumpwave-view share/bumpwave/bumpmap.png
    share/bumpwave/boys.jpg share/bumpwave/testing.ogg share/applications/bumpwave.desktop
    share/icons/hicolor/128x128/apps/bumpwave.png share/man/man6/bumpwave.6.gz
    share/man/man1/bumpwave-frames.1.gz share/man/man1/bumpwave-view.1.gz
    share/doc/bumpwave/copyright share/doc/bumpwave/changelog.gz)
[[ -e $build/bumpwave-record ]] && files+=(bin/bumpwave-record share/man/man1/bumpwave-record.1.gz)
missing=0

prefix=$(mktemp -d)
empty=$(mktemp -d)
trap 'rm -rf "$prefix" "$empty"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in "${files[@]}"; do
    [[ -s $prefix/$file ]] || { echo "cmake --install left out $file"; missing=1; }
done
# Every program says the project's version, the package's, with nothing after it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for program in "$prefix"/bin/*; do
    said=$("$program" --version) || { echo "$program --version failed"; missing=1; }
    [[ $said == "$(basename "$program") $version" ]] ||
        { echo "$program --version says \"$said\", not $version"; missing=1; }
done

# Started from an empty folder, the installed demo finds its pictures and music
# and shows its visuals until it is stopped, when it prints the frame-rate line
# (even if stopped before its first frame); the frame tool finds the pictures.
set +e
(cd "$empty" && SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy timeout -s TERM -k 60 3 \
    "$prefix/bin/bumpwave" >out 2>err)
status=$?
set -e
grep -q ' FPS$' "$empty/out" && ! grep -q "Couldn't" "$empty/out" && ((status == 124)) ||
    { echo "the installed demo, from an empty folder, exited $status:"; cat "$empty"/out "$empty"/err; missing=1; }
(cd "$empty" && "$prefix/bin/bumpwave-frames" --seed 1 --times 0 --out . >/dev/null) ||
    { echo "the installed bumpwave-frames, from an empty folder, failed"; missing=1; }

rm -f "$build"/bumpwave_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build"/bumpwave_*.deb)
[[ $deb == "$build/bumpwave_${version}_"*.deb ]] || { echo "$deb is not version $version"; missing=1; }
contents=$(dpkg-deb --contents "$deb")
for file in "${files[@]}"; do
    grep -q " \./usr/$file\$" <<<"$contents" || { echo "$deb lacks /usr/$file"; missing=1; }
done
depends=$(dpkg-deb --field "$deb" Depends)
for library in libsdl2 libvorbisfile libpng libjpeg; do
    grep -q "$library" <<<"$depends" || { echo "$deb does not depend on $library"; missing=1; }
done
# Errors, warnings and any program built without Debian's hardening; the other
# notes are left to a distributor.
complaints=$(lintian -I --pedantic --tag-display-limit 0 "$deb" 2>&1 |
    grep -E '^[EW]: |^[IPX]: .*hardening-' || true)
[[ -z $complaints ]] || { echo "lintian on $deb:"; echo "$complaints"; missing=1; }
((missing == 0)) && echo "installed and packaged: ${#files[@]} files; $deb depends on $depends"
exit "$missing"

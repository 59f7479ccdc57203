#!/usr/bin/env bash
# Installs a build into a temporary prefix and packages it as a .deb, and checks
# that both hold every file a user needs, that the installed demo finds its
# files from any folder, that the desktop entry, the software centre's metadata
# and the shell completion are valid, and that lintian finds no error, warning
# or missing hardening in the .deb:
# scripts/package-check.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
id=io.github.bumpwave.bumpwave
files=(bin/bumpwave bin/bumpwave-frames bin/bumpwave-view share/bumpwave/bumpmap.png
    share/bumpwave/boys.jpg share/bumpwave/testing.ogg share/applications/$id.desktop
    share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/bumpwave.svg
    share/man/man6/bumpwave.6.gz share/man/man1/bumpwave-frames.1.gz
    share/man/man1/bumpwave-view.1.gz share/doc/bumpwave/copyright share/doc/bumpwave/changelog.gz)
for size in 16 32 48 64 128 256 512; do
    files+=(share/icons/hicolor/${size}x$size/apps/bumpwave.png)
done
programs=(bumpwave bumpwave-frames bumpwave-view)
[[ -e $build/bumpwave-record ]] && programs+=(bumpwave-record) &&
    files+=(bin/bumpwave-record share/man/man1/bumpwave-record.1.gz)
for program in "${programs[@]}"; do files+=(share/bash-completion/completions/$program); done
files+=(share/zsh/vendor-completions/_bumpwave)
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
for size in 16 512; do
    [[ $(identify -format %wx%h "$prefix/share/icons/hicolor/${size}x$size/apps/bumpwave.png") == \
        "${size}x$size" ]] || { echo "the ${size}x$size icon is not that size"; missing=1; }
done

# What menus and software centres read of it.
desktop-file-validate "$prefix/share/applications/$id.desktop" || missing=1
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
    { appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml"; missing=1; }
appstreamcli validate-tree --no-net "$prefix" >/dev/null ||
    { appstreamcli validate-tree --no-net "$prefix"; missing=1; }
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
    { echo "the metainfo has no release $version"; missing=1; }


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

# Completion, as bash asks for it: each program's options, and where a file or a
# folder is due, only those that fit.
mkdir -p "$empty/c/folder" && touch "$empty"/c/{v.mkv,v.WEBM,v.avi,'a b.mp4'}
completed=$(cd "$empty/c" && bash -c 'source "$0"
    for line in "bumpwave --ra" "bumpwave-frames --seed 1 --o" "bumpwave-frames --out " \
        "bumpwave-view o" "bumpwave-record --s" "bumpwave-record --fps 30 "; do
        read -ra COMP_WORDS <<<"$line"
        [[ $line == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _bumpwave "${COMP_WORDS[0]}"
        printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd "|"
    done' "$prefix/share/bash-completion/completions/bumpwave")
expected=$'--rate\n--out\nfolder\noverlay\n--scale|--seed\na b.mp4|folder|v.WEBM|v.mkv'
[[ $completed == "$expected" ]] ||
    { echo "bash completes:"; echo "$completed"; echo "instead of:"; echo "$expected"; missing=1; }
! command -v zsh >/dev/null || zsh -n "$prefix/share/zsh/vendor-completions/_bumpwave" || missing=1

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
# Wayland's title bar and close button.
dpkg-deb --field "$deb" Recommends | grep -q libdecor-0-plugin ||
    { echo "$deb does not recommend a libdecor plugin"; missing=1; }
# Errors, warnings and any program built without Debian's hardening; the other
# notes are left to a distributor.
complaints=$(lintian -I --pedantic --tag-display-limit 0 "$deb" 2>&1 |
    grep -E '^[EW]: |^[IPX]: .*hardening-' || true)
[[ -z $complaints ]] || { echo "lintian on $deb:"; echo "$complaints"; missing=1; }
((missing == 0)) && echo "installed and packaged: ${#files[@]} files; $deb depends on $depends"
exit "$missing"

#!/usr/bin/env bash
# The demo as a web page. Installs what is missing (Debian 12), builds the
# libraries the demo uses for the browser from Debian's own sources (once:
# they are kept in build/web-sysroot), builds the page into build/web/ and
# serves that folder at http://127.0.0.1:PORT/ (8000 unless given) until Ctrl+C.
#
#   ./web.sh [PORT]   build and serve
#   ./web.sh build    only build (exit 0, or 1 when the build failed)
#
# build/web/ is the whole page: copy it to any static host.
set -euo pipefail
cd "$(dirname "$0")"
usage="usage: ./web.sh [PORT | build | --help]"
port=8000
case "${1:-}" in
"" | build) ;;
-h | --help)
    echo "$usage"
    echo "Builds the demo as a web page in build/web/ and serves it at http://127.0.0.1:PORT/"
    echo "(8000 unless given) until Ctrl+C; 'build' only builds it."
    exit 0
    ;;
*)
    if [[ ! $1 =~ ^[0-9]{1,5}$ ]] || ((10#$1 < 1 || 10#$1 > 65535)); then
        echo "web: $1 is neither a port (1 to 65535) nor 'build'" >&2
        echo "$usage" >&2
        exit 2
    fi
    port=$((10#$1))
    ;;
esac
fail() {
    echo "web: $*" >&2
    exit 1
}
trap 'fail "the build failed"' ERR
source scripts/packages.sh
install_packages "${BUMPWAVE_PACKAGES[@]}" "${BUMPWAVE_WEB_PACKAGES[@]}"
export NODE_PATH=/usr/share/nodejs # emcc's own node modules on Debian
jobs=$(nproc)
start=$SECONDS

web/sysroot.sh build/web-sysroot

# The demo's own pictures and music, made by the native build as for the desktop.
echo "web: making the demo's own pictures and music in build/release"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$jobs" --target default-pictures default-music icons >/dev/null

echo "web: building the page"
emcmake cmake -S web -B build/web-build -DBUMPWAVE_SYSROOT="$PWD/build/web-sysroot" \
    -DBUMPWAVE_DEFAULT_FILES="$PWD/build/release" >/dev/null
cmake --build build/web-build -j"$jobs"
rm -rf build/web
mkdir -p build/web
cp build/web-build/bumpwave.html build/web/index.html
cp build/web-build/bumpwave.{js,wasm,data} build/web-build/music_worker.{js,wasm} build/web/
cp build/release/icons/32x32/apps/bumpwave.png build/web/favicon.png
trap - ERR
echo "web: build/web is ready ($(du -sk build/web | cut -f1) kB) in $((SECONDS - start)) s"

[[ ${1:-} == build ]] && exit 0
echo "web: serving build/web at http://127.0.0.1:$port/ (Ctrl+C ends it)"
cd build/web
exec python3 -m http.server "$port" --bind 127.0.0.1

#!/usr/bin/env bash
# The demo as a web page. Installs what is missing (Debian 12), builds the
# libraries the demo uses for the browser from Debian's own sources (once:
# they are kept in build/web-sysroot), builds the page into build/web/ and
# serves that folder at http://127.0.0.1:PORT/ (8000 unless given) until Ctrl+C,
# compressed; with --lan on every interface, for a phone on the same network.
#
#   ./web.sh [PORT] [--lan]   build and serve
#   ./web.sh build            only build (exit 0, or 1 when the build failed)
#
# build/web/ is the whole page: copy it to any static host.
set -euo pipefail
cd "$(dirname "$0")"
usage="usage: ./web.sh [PORT] [--lan] | build | --help"
port=8000
address=127.0.0.1
for word in "$@"; do
    case "$word" in
    build) ;;
    --lan) address=0.0.0.0 ;;
    -h | --help)
        echo "$usage"
        echo "Builds the demo as a web page in build/web/ and serves it at http://127.0.0.1:PORT/"
        echo "(8000 unless given) until Ctrl+C; --lan serves it to the whole network as well;"
        echo "'build' only builds it."
        exit 0
        ;;
    *)
        if [[ ! $word =~ ^[0-9]{1,5}$ ]] || ((10#$word < 1 || 10#$word > 65535)); then
            echo "web: $word is neither a port (1 to 65535), --lan nor 'build'" >&2
            echo "$usage" >&2
            exit 2
        fi
        port=$((10#$word))
        ;;
    esac
done
# A taken port is said before the build, with the next free one.
free() { python3 -c "import socket,sys; socket.socket().bind(('$address', $1))" 2>/dev/null; }
if [[ ${1:-} != build ]] && ! free "$port"; then
    next=$((port + 1))
    while ((next < 65535)) && ! free "$next"; do next=$((next + 1)); done
    echo "web: port $port is taken; ./web.sh $next would serve on a free one" >&2
    exit 1
fi
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
cp web/music_worklet.js web/manifest.json build/release/testing.ogg build/web/
cp build/release/icons/32x32/apps/bumpwave.png build/web/favicon.png
cp build/release/icons/512x512/apps/bumpwave.png build/web/icon-512.png
rsvg-convert -w 192 -h 192 packaging/bumpwave.svg -o build/web/icon-192.png
# The maskable icon keeps its picture in the middle, which any mask leaves whole.
rsvg-convert -w 320 -h 320 packaging/bumpwave.svg |
    convert - -background black -gravity center -extent 512x512 build/web/icon-maskable.png
# The service worker's cache is named after the build: a new build replaces it.
build=$(cat build/web/* | sha256sum | cut -c1-12)
sed "s/bumpwave-BUILD/bumpwave-$build/" web/service_worker.js >build/web/sw.js
# Each file that shrinks, compressed beside it: served as it is to any browser taking gzip.
gzip -9 -k -n build/web/{index.html,*.js,*.wasm,manifest.json}
trap - ERR
echo "web: build/web is ready ($(du -sk build/web | cut -f1) kB) in $((SECONDS - start)) s"

[[ ${1:-} == build ]] && exit 0
echo "web: serving build/web at http://127.0.0.1:$port/ (Ctrl+C ends it)"
if [[ $address == 0.0.0.0 ]]; then
    for lan in $(hostname -I); do [[ $lan == *:* ]] || echo "web: on the network at http://$lan:$port/"; done
fi
exec python3 web/serve.py build/web "$port" "$address"

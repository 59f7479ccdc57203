#!/usr/bin/env bash
# Builds the libraries the demo uses (SDL2, libogg, libvorbis/libvorbisfile,
# zlib, libpng, libjpeg-turbo) for the browser from Debian's own source
# packages, into a sysroot that later runs reuse. Usage: web/sysroot.sh SYSROOT
# Needs emscripten and dpkg-dev; works as root or not.
set -euo pipefail
sysroot=$(realpath -m "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(realpath -m "$sysroot/../web-src")
packages=(zlib libpng1.6 libjpeg-turbo libogg libvorbis libsdl2)
stamp="$sysroot/.built"
[[ -f $stamp && $(cat "$stamp") == "${packages[*]}" ]] && exit 0

export NODE_PATH=/usr/share/nodejs
export CFLAGS="-O2"
jobs=$(nproc)
log="$work/build.log"
mkdir -p "$work" "$sysroot"
: >"$log"
step() { echo "web: $*"; }
# Each build's output goes to the log; its tail is shown when it fails.
quiet() {
    if ! "$@" >>"$log" 2>&1; then
        tail -n 30 "$log" >&2
        echo "web: failed: $* (whole log: $log)" >&2
        exit 1
    fi
}

# The archive the machine already uses, with its sources: only the release
# suite's sources can be fetched, so that is the one named.
archive() {
    local uri
    uri=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    [[ -n $uri ]] || uri=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
    echo "${uri:-http://deb.debian.org/debian}"
}

# A private apt state: the machine's own lists and settings stay untouched.
fetch_sources() {
    mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/parts"
    echo "deb-src $(archive) bookworm main" >"$work/apt/sources.list"
    apt=(-o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts="$work/apt/parts"
        -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache"
        -o APT::Sandbox::User=root -o Debug::NoLocking=1)
    step "fetching the source packages: ${packages[*]}"
    quiet apt-get "${apt[@]}" update
    for package in "${packages[@]}"; do
        compgen -G "$work/$package-*/" >/dev/null && continue
        (cd "$work" && quiet apt-get "${apt[@]}" source "$package")
    done
}

source_dir() {
    local dirs=("$work/$1"-*/)
    echo "${dirs[0]%/}"
}

# CMake under emcmake, finding only what the sysroot holds.
cmake_build() {
    local dir=$1
    shift
    rm -rf "$dir/web-build"
    quiet emcmake cmake -S "$dir" -B "$dir/web-build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$sysroot" -DCMAKE_PREFIX_PATH="$sysroot" \
        -DCMAKE_FIND_ROOT_PATH="$sysroot" -DBUILD_SHARED_LIBS=OFF "$@"
    quiet cmake --build "$dir/web-build" -j"$jobs"
    quiet cmake --install "$dir/web-build"
}

build_zlib() {
    local dir
    dir=$(source_dir zlib)
    # Its CMake build names a Windows resource file the Debian tarball lacks.
    (cd "$dir" && quiet emconfigure ./configure --static --prefix="$sysroot" &&
        quiet emmake make -j"$jobs" libz.a && quiet emmake make install)
}

build_libpng() {
    cmake_build "$(source_dir libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
        -DPNG_EXECUTABLES=OFF -DPNG_HARDWARE_OPTIMIZATIONS=OFF -DZLIB_ROOT="$sysroot" \
        -DZLIB_LIBRARY="$sysroot/lib/libz.a" -DZLIB_INCLUDE_DIR="$sysroot/include"
}

# CMake's check_type_size cannot run what emcc builds: the sizes of wasm32 are given.
build_libjpeg() {
    cmake_build "$(source_dir libjpeg-turbo)" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DCMAKE_SIZEOF_VOID_P=4 \
        -DSIZE_T=4 -DHAVE_SIZE_T=TRUE -DUNSIGNED_LONG=4 -DHAVE_UNSIGNED_LONG=TRUE
}

build_libogg() {
    cmake_build "$(source_dir libogg)" -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF \
        -DSIZE16=int16_t -DUSIZE16=uint16_t -DSIZE32=int32_t -DUSIZE32=uint32_t \
        -DSIZE64=int64_t -DUSIZE64=uint64_t -DINT16_SIZE=2 -DHAVE_INT16_SIZE=TRUE \
        -DUINT16_SIZE=2 -DHAVE_UINT16_SIZE=TRUE -DU_INT16_SIZE=2 -DHAVE_U_INT16_SIZE=TRUE \
        -DSHORT_SIZE=2 -DHAVE_SHORT_SIZE=TRUE -DINT32_SIZE=4 -DHAVE_INT32_SIZE=TRUE \
        -DUINT32_SIZE=4 -DHAVE_UINT32_SIZE=TRUE -DU_INT32_SIZE=4 -DHAVE_U_INT32_SIZE=TRUE \
        -DINT_SIZE=4 -DHAVE_INT_SIZE=TRUE -DLONG_SIZE=4 -DHAVE_LONG_SIZE=TRUE \
        -DINT64_SIZE=8 -DHAVE_INT64_SIZE=TRUE -DUINT64_SIZE=8 -DHAVE_UINT64_SIZE=TRUE \
        -DU_INT64_SIZE=8 -DHAVE_U_INT64_SIZE=TRUE -DLONG_LONG_SIZE=8 -DHAVE_LONG_LONG_SIZE=TRUE
}

build_libvorbis() {
    cmake_build "$(source_dir libvorbis)" -DOGG_ROOT="$sysroot" \
        -DOGG_INCLUDE_DIR="$sysroot/include" -DOGG_LIBRARY="$sysroot/lib/libogg.a"
}

# The browser has no threads here: any static server must do, without the
# headers that shared memory needs.
build_libsdl2() {
    cmake_build "$(source_dir libsdl2)" -C "$here/sdl-checks.cmake" -DSDL_SHARED=OFF \
        -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_THREADS=OFF -DSDL_PTHREADS=OFF
}

# Each chain of libraries, in order, in the background with a log of its own.
chains=()
build_beside() {
    (
        log="$work/build-$1.log"
        : >"$log"
        for library in "$@"; do
            step "building $library for the browser"
            "build_$library"
        done
    ) &
    chains+=($!)
}

start=$SECONDS
fetch_sources
# Much of each build is a configure that runs one check after another: the
# four chains keep both cores busy.
trap 'kill "${chains[@]}" 2>/dev/null || true' EXIT # when one fails first
build_beside libsdl2
build_beside zlib libpng
build_beside libjpeg
build_beside libogg libvorbis
for chain in "${chains[@]}"; do wait "$chain"; done
echo "${packages[*]}" >"$stamp"
step "sysroot ready in $((SECONDS - start)) s: $sysroot"

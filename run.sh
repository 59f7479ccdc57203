#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds the demo with its own pictures
# and music, and runs it. Its arguments go to the demo.
set -euo pipefail
cd "$(dirname "$0")"
# With an earlier build the demo reads the words first, before anything is
# built: it refuses a typo with its own message (status 2), and answers --help.
# The --version put after them answers only where every word is taken and none
# asks for anything else.
if [[ -x build/release/bumpwave ]]; then
    said=$(build/release/bumpwave "$@" --version) || (($? != 2)) || exit 2
    [[ $said != usage:* ]] || { echo "$said"; exit 0; }
fi
source scripts/packages.sh
install_packages "${BUMPWAVE_PACKAGES[@]}"
# A clone copied or moved keeps a cache naming its old folder, which CMake
# refuses: its build starts afresh, keeping what else the folder holds.
cache=build/release/CMakeCache.txt
if [[ -f $cache ]]; then
    source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache")
    if [[ $source_dir != "$PWD" && $source_dir != "$(pwd -P)" ]]; then
        echo "build/release was configured for $source_dir: configuring it afresh"
        rm -f "$cache"
        find build/release -name CMakeFiles -type d -prune -exec rm -rf {} +
    fi
fi
# Quietly: a dot for each part built, and the whole log only where it fails.
build() {
    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release &&
        cmake --build build/release -j"$(nproc)" --target bumpwave bumpwave-frames bumpwave-view \
            bumpwave-record default-pictures default-music
}
progress() {
    local line
    while read -r line; do [[ $line != *"Built target"* ]] || echo -n .; done
    echo
}
echo -n "Building the demo in build/release (about a minute the first time)"
mkdir -p build/release
log=build/release/build.log
if ! build 2>&1 | tee "$log" | progress; then
    cat "$log"
    echo "run.sh: the build failed (its log: $log)" >&2
    exit 1
fi
echo "Running build/release/bumpwave $*"
cd build/release
exec ./bumpwave "$@"

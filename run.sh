#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds the demo with its own pictures
# and music, and runs it. Its arguments go to the demo.
set -euo pipefail
cd "$(dirname "$0")"
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
echo "Building the demo in build/release (about a minute the first time)"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j"$(nproc)" --target bumpwave bumpwave-frames bumpwave-view \
    bumpwave-record default-pictures default-music
echo "Running build/release/bumpwave $*"
cd build/release
exec ./bumpwave "$@"

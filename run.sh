#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds the demo with its own pictures
# and music, and runs it. Its arguments go to the demo.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
install_packages "${BUMPWAVE_PACKAGES[@]}"
echo "Building the demo in build/release (about a minute the first time)"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j"$(nproc)" --target bumpwave bumpwave-frames bumpwave-view \
    bumpwave-record default-pictures default-music
echo "Running build/release/bumpwave $*"
cd build/release
exec ./bumpwave "$@"

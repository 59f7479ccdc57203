#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds the demo with its own pictures
# and music, and runs it. Pass WINDOW to run it in a window.
set -euo pipefail
cd "$(dirname "$0")"
source tools/packages.sh
install_packages "${BUMPWAVE_PACKAGES[@]}"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" --target bumpwave bumpwave-frames bumpwave-view \
    bumpwave-record default-pictures default-music >/dev/null
cd build/release
exec ./bumpwave "$@"

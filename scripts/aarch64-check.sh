#!/usr/bin/env bash
# Builds for 64-bit ARM, where the x86-64 vector paths are left out: clang
# checks every source for that target, then the effects and their tests (which
# need no library but GoogleTest) are cross-compiled and run under qemu-user.
# Needs clang, g++-aarch64-linux-gnu, qemu-user and libgtest-dev's sources.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/aarch64
jobs=$(nproc)
rm -rf "$out" && mkdir -p "$out/include/SDL2" "$out/objects"

# The libraries' headers are the build machine's. Those that sit in its own
# architecture's folder are lent one by one, not that whole folder, and
# SDL is kept from the x86 intrinsics its configuration there names.
native=/usr/include/$(gcc -print-multiarch)
ln -s "$native/SDL2/_real_SDL_config.h" "$out/include/SDL2/"
ln -s "$native/jconfig.h" "$out/include/"
for library in libavcodec libavformat libavutil libswresample libswscale; do
    ln -s "$native/$library" "$out/include/"
done
echo "== aarch64: clang -fsyntax-only of every source"
syntax=0
find platform effects assets shell tools content tests bench -name '*.cpp' -print0 |
    xargs -0 -n1 -P"$jobs" clang++ --target=aarch64-linux-gnu -std=c++20 -fsyntax-only \
        -ferror-limit=3 -Wall -Wextra -Werror -I. -D_REENTRANT -DSDL_DISABLE_IMMINTRIN_H \
        -DBUMPWAVE_VERSION='"0.0"' -DBUMPWAVE_BUILD_DIR='"build"' -DBUMPWAVE_SOURCE_DIR='"."' \
        -DBUMPWAVE_DATA_FROM_PROGRAM='"../share/bumpwave"' \
        -idirafter "$out/include" \
        -idirafter /usr/include/SDL2 -idirafter /usr/include/libpng16 || syntax=1

echo "== aarch64: the effects' tests under qemu-user"
gtest=/usr/src/googletest/googletest
compile() { # source, then flags
    local source=$1
    shift
    aarch64-linux-gnu-g++ -std=c++20 -O2 -I. -I"$gtest/include" "$@" -c "$source" \
        -o "$out/objects/$(tr / _ <<<"$source").o"
}
export -f compile
export out gtest
{
    printf '%s\0' "$gtest/src/gtest-all.cc -I$gtest" "$gtest/src/gtest_main.cc"
    for source in effects/*.cpp platform/frame.cpp \
        tests/effects_test.cpp; do
        printf '%s\0' "$source -ffp-contract=off -Wall -Wextra -Werror"
    done
} | xargs -0 -n1 -P"$jobs" bash -c 'compile $0'
aarch64-linux-gnu-g++ "$out"/objects/*.o -pthread -o "$out/effects_test"
qemu-aarch64 -L /usr/aarch64-linux-gnu "$out/effects_test" --gtest_brief=1
((syntax == 0)) || { echo "aarch64: some sources do not compile for that target (above)"; exit 1; }

#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds, and runs every test: once in a
# plain release build (which is then installed and packaged, and whose pictures
# and music the web page built by web.sh is tested with in Chromium), once under
# AddressSanitizer and UBSan, those where threads meet under ThreadSanitizer,
# once built for 64-bit ARM, then each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
install_packages "${BUMPWAVE_PACKAGES[@]}" "${BUMPWAVE_TEST_PACKAGES[@]}" \
    "${BUMPWAVE_WEB_PACKAGES[@]}" "${BUMPWAVE_WEB_TEST_PACKAGES[@]}"

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

# The browser's libraries build from source for minutes, mostly in one slow
# configure check after another: beside the release build and its tests,
# which spend most of their time watching whole shows play. Niced, so that
# the shows keep their time.
mkdir -p build
nice -n 10 web/sysroot.sh build/web-sysroot >build/web-sysroot.log 2>&1 &
sysroot=$!

echo "== release build"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUMPWAVE_WERROR=ON
cmake --build build/release -j"$jobs"
ctest --test-dir build/release -j"$jobs" --timeout 300

echo "== web page in headless Chromium"
wait "$sysroot" || { cat build/web-sysroot.log; exit 1; }
cat build/web-sysroot.log
./web.sh build
node build/web-build/effects_test.js # the renderers as the page builds them
/usr/bin/python3 tests/web_test.py build/web build/release

echo "== install and package"
scripts/package-check.sh build/release

echo "== sanitizer build"
# Whole allocation stacks: libvorbis keeps no frame pointers, and the fast
# unwinder would end a leak's stack inside it, before the libvorbisfile frame
# its suppression names.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Release -DBUMPWAVE_WERROR=ON -DBUMPWAVE_SANITIZE=ON
cmake --build build/sanitize -j"$jobs"
ctest --test-dir build/sanitize -j"$jobs" --timeout 600

echo "== ThreadSanitizer: the tests where threads meet, the music thread's and the card's"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Release -DBUMPWAVE_WERROR=ON -DBUMPWAVE_TSAN=ON
cmake --build build/tsan -j"$jobs" --target music_test
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -j"$jobs" --timeout 600 \
    -R '^Music[A-Za-z]*\.'

scripts/aarch64-check.sh

shopt -s nullglob
fuzzers=(tests/fuzz/*_fuzz.cpp)
if ((${#fuzzers[@]})); then
    echo "== fuzz build"
    CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Release \
        -DBUMPWAVE_SANITIZE=ON -DBUMPWAVE_FUZZ=ON
    for source in "${fuzzers[@]}"; do
        name=$(basename "$source" .cpp)
        cmake --build build/fuzz -j"$jobs" --target "$name"
        corpus=build/fuzz/corpus-$name
        rm -rf "$corpus" && mkdir -p "$corpus"
        cp -r tests/fuzz/corpus/"$name"/. "$corpus"/ 2>/dev/null || true
        echo "== fuzzing $name for ${BUMPWAVE_FUZZ_SECONDS:-25} s"
        build/fuzz/"$name" -max_total_time="${BUMPWAVE_FUZZ_SECONDS:-25}" -rss_limit_mb=2048 \
            -print_final_stats=1 "$corpus"
    done
fi
echo "== all tests passed"

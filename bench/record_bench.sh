#!/bin/bash
# Records the whole demo in each format at scales 1, 2 and 3, and prints each
# recording's closing line (its size and its speed in real time) and the CPU
# time it took. What to expect on two cores: .mkv at scale 1 at least 2x real
# time, .mp4 and .webm at scale 2 at least 1x. The load average before and
# after tells how much of the machine others used meanwhile.
#   bench/record_bench.sh [BUILD_DIR] [SCALES] [FORMATS]
set -euo pipefail
build=$(realpath "${1:-build/release}")
scales=${2:-1 2 3}
formats=${3:-mkv mp4 webm}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$build"/{bumpmap.png,boys.jpg,testing.ogg} "$work"
cd "$work"
echo "$(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
TIMEFORMAT='    %U s user, %S s system, %R s elapsed'
for scale in $scales; do
    for format in $formats; do
        time "$build/bumpwave-record" --seed 1 --scale "$scale" "demo-$scale.$format"
        rm "demo-$scale.$format"
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

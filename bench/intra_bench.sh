#!/bin/sh
# I-picture coding at 720x576, side by side with x264 on the same input, one thread each.
#   bench/intra_bench.sh BUILD_DIR [frames] [qp]
# BUILD_DIR is a host build (e.g. build/host) holding tools/ombrisk_intra. For each coder
# level: frames per second (best of three runs), bytes and PSNR; then x264 (keyint 1,
# no 8x8 transform, Main profile, ultrafast and veryfast) at the same QP (ipratio 1, so
# that its I pictures are not coded at a lower QP), and at the bit
# rate our level 0 stream took, so that PSNR compares at equal size.
set -eu
build=${1:?usage: intra_bench.sh BUILD_DIR [frames] [qp]}
frames=${2:-100}
qp=${3:-26}
enc="$build/tools/ombrisk_intra"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src="$work/src.y4m"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v "$frames" -pix_fmt yuv420p "$src"

now() { date +%s.%N; }
# best_of CMD...: the shortest wall time of three runs, in seconds.
best_of() {
    best=""
    for _ in 1 2 3; do
        s=$(now)
        "$@" >/dev/null 2>&1
        e=$(now)
        t=$(echo "$e - $s" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}
psnr() {
    ffmpeg -nostdin -v info -i "$1" -i "$src" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
        sed -n 's/.*PSNR y:\([0-9.]*\).* average:\([0-9.inf]*\).*/Y \1 dB, all \2 dB/p' | tail -1
}
row() { # name seconds file
    fps=$(echo "$frames / $2" | bc -l | cut -c1-6)
    printf '%-34s %8s fps %10s bytes   %s\n' "$1" "$fps" "$(stat -c %s "$3")" "$(psnr "$3")"
}

for level in 0 1 2; do
    t=$(best_of "$enc" -q "$qp" -l "$level" -g 1 "$src" "$work/o$level.264")
    row "ombrisk level $level, QP $qp" "$t" "$work/o$level.264"
done
for preset in ultrafast veryfast; do
    t=$(best_of x264 --quiet --threads 1 --keyint 1 --no-8x8dct --profile main --preset "$preset" --qp "$qp" --ipratio 1 \
        -o "$work/x_$preset.264" "$src")
    row "x264 $preset, QP $qp" "$t" "$work/x_$preset.264"
done
kbps=$(echo "$(stat -c %s "$work/o0.264") * 8 * 25 / $frames / 1000" | bc)
for preset in ultrafast veryfast; do
    t=$(best_of x264 --quiet --threads 1 --keyint 1 --no-8x8dct --profile main --preset "$preset" --bitrate "$kbps" \
        -o "$work/xr_$preset.264" "$src")
    row "x264 $preset, $kbps kbit/s" "$t" "$work/xr_$preset.264"
done

#!/bin/sh
# I-picture and I/P/B coding at 720x576, side by side with x264 on the same input, one
# thread each.
#   bench/intra_bench.sh BUILD_DIR [frames] [qp] [intra|inter|both] [partition word]
# BUILD_DIR is a host build (e.g. build/host) holding tools/ombrisk_intra. For each coder
# level: frames per second (best of three runs), bytes and PSNR; then x264 (keyint 1,
# no 8x8 transform, Main profile, ultrafast and veryfast) at the same QP (ipratio 1, so
# that its I pictures are not coded at a lower QP), and at the bit
# rate our level 0 stream took, so that PSNR compares at equal size.
# The inter part codes a GOP of one IDR picture, then P pictures with two B pictures
# before each (one reference), at every coder level and with zero motion, beside x264
# (CAVLC, Main profile without the 8x8 transform, two B pictures, one reference; --pbratio
# 1 so that all pictures share the QP) at the same QP and at our level-2 rate, on testsrc2
# and on a pan. x264's rate control overshoots on short clips, so the PSNR at equal size
# is also read off x264 veryfast's QP curve (QP - 3 .. QP + 3), interpolated in log(size)
# at our level-2 size. The partition word (parameter word 19, default 15) applies to the
# inter rows.
set -eu
build=${1:?usage: intra_bench.sh BUILD_DIR [frames] [qp] [intra|inter|both]}
frames=${2:-100}
qp=${3:-26}
mode=${4:-both}
parts=${5:-15}
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

intra() {
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
}

inter() { # label source
    echo "== I/P/B, $1"
    for level in 0 1 2; do
        t=$(best_of "$enc" -x 1 -b 2 -r 1 -w "$parts" -q "$qp" -l "$level" "$2" "$work/p$level.264")
        row "ombrisk level $level, QP $qp, shapes $parts" "$t" "$work/p$level.264"
    done
    t=$(best_of "$enc" -x 1 -b 2 -r 1 -m 0 -q "$qp" -l 0 "$2" "$work/pz.264")
    row "ombrisk level 0, zero motion" "$t" "$work/pz.264"
    x264opts="--quiet --threads 1 --no-8x8dct --no-cabac --profile main --bframes 2 --b-adapt 0 --ref 1 --no-scenecut"
    for preset in ultrafast veryfast; do
        # shellcheck disable=SC2086
        t=$(best_of x264 $x264opts --preset "$preset" --qp "$qp" --ipratio 1 --pbratio 1 -o "$work/px_$preset.264" "$2")
        row "x264 $preset, QP $qp" "$t" "$work/px_$preset.264"
    done
    kbps=$(echo "$(stat -c %s "$work/p2.264") * 8 * 25 / $frames / 1000" | bc)
    # shellcheck disable=SC2086
    t=$(best_of x264 $x264opts --preset veryfast --bitrate "$kbps" -o "$work/pxr.264" "$2")
    row "x264 veryfast, $kbps kbit/s" "$t" "$work/pxr.264"
    : >"$work/curve"
    for d in 3 2 1 0 -1 -2 -3; do
        # shellcheck disable=SC2086
        x264 $x264opts --preset veryfast --qp $((qp + d)) --ipratio 1 --pbratio 1 -o "$work/pq.264" "$2" >/dev/null 2>&1
        echo "$(stat -c %s "$work/pq.264") $(psnr "$work/pq.264" | sed 's/.*all \([0-9.]*\) dB/\1/')" >>"$work/curve"
    done
    awk -v s="$(stat -c %s "$work/p2.264")" '
        { size[NR] = $1; db[NR] = $2 }
        END {
            for (i = 1; i < NR; ++i)
                if (size[i] <= s && s <= size[i + 1]) {
                    f = (log(s) - log(size[i])) / (log(size[i + 1]) - log(size[i]))
                    printf "x264 veryfast at level 2'"'"'s size (%d bytes): all %.2f dB, QP curve\n", s, db[i] + f * (db[i + 1] - db[i])
                    exit
                }
            print "x264 veryfast QP curve does not reach level 2'"'"'s size " s
        }' "$work/curve"
}

if [ "$mode" != inter ]; then intra; fi
if [ "$mode" != intra ]; then
    inter "testsrc2" "$src"
    pan="$work/pan.y4m"
    ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1280x720:rate=25,crop=720:576:x=t*100:y=t*40" \
        -frames:v "$frames" -pix_fmt yuv420p "$pan"
    src="$pan"
    inter "pan" "$pan"
fi

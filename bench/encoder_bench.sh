#!/bin/sh
# The encoder end to end beside x264, on the same inputs, in one run, one thread each.
#   bench/encoder_bench.sh BUILD_DIR [frames]
# BUILD_DIR is a host build (e.g. build/host) holding tools/ombrisk_enc. At 720x576 and
# 1280x720 (testsrc2 scrolling under temporal noise, GOP 50, one B picture, one
# reference) it codes at a
# target bit rate with our fastest effort (0) and our default (1), each in CAVLC and in
# CABAC (suffix a), and with x264 ultrafast (CAVLC) and veryfast (CABAC) (Main profile, no
# 8x8 transform; each preset's entropy coder as it is), and prints frames per second, bit
# rate against the target and PSNR (ffmpeg's psnr filter on each decode), then our
# figures as ratios against each x264 preset.
set -eu
build=${1:?usage: encoder_bench.sh BUILD_DIR [frames]}
frames=${2:-100}
enc="$build/tools/ombrisk_enc"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
run() { # seconds taken by CMD...
    s=$(now)
    "$@" >/dev/null 2>&1
    e=$(now)
    echo "$e - $s" | bc -l
}
psnr() {
    ffmpeg -nostdin -v info -i "$1" -i "$2" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
        sed -n 's/.*average:\([0-9.inf]*\).*/\1/p' | tail -1
}

for case in "720x576 2000" "1280x720 4000"; do
    size=${case% *}
    kbps=${case#* }
    src="$work/src_$size.y4m"
    ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=$size:rate=25,scroll=h=0.003:v=0.002,noise=alls=6:allf=t" \
        -frames:v "$frames" -pix_fmt yuv420p "$src"
    echo "== $size, $frames pictures, target $kbps kbit/s"
    printf '%-22s %8s %10s %8s %9s\n' coder fps kbit/s rate PSNR
    for coder in ours0 ours1 ours0a ours1a ultrafast veryfast; do
        out="$work/$coder.264"
        case $coder in
        ours*a)
            effort=${coder#ours}
            t=$(run "$enc" -a -b "$kbps" -e "${effort%a}" -g 50 -n 1 -R 1 -S 1 -t 1 "$src" "$out") ;;
        ours*)
            t=$(run "$enc" -b "$kbps" -e "${coder#ours}" -g 50 -n 1 -R 1 -S 1 -t 1 "$src" "$out") ;;
        *)
            t=$(run x264 --quiet --threads 1 --profile main --no-8x8dct --preset "$coder" --keyint 50 \
                --bitrate "$kbps" -o "$out" "$src") ;;
        esac
        fps=$(echo "$frames / $t" | bc -l)
        rate=$(echo "$(stat -c %s "$out") * 8 * 25 / $frames / 1000" | bc -l)
        p=$(psnr "$out" "$src")
        eval "fps_$coder=$fps psnr_$coder=$p"
        printf '%-22s %8.1f %10.0f %+7.1f%% %9s\n' "$coder" "$fps" "$rate" \
            "$(echo "($rate / $kbps - 1) * 100" | bc -l)" "$p"
    done
    for ours in ours0 ours1 ours0a ours1a; do
        for x in ultrafast veryfast; do
            eval "a=\$fps_$ours b=\$fps_$x pa=\$psnr_$ours pb=\$psnr_$x"
            printf '%s against %-10s fps ratio %.2f, PSNR %+.2f dB\n' "$ours" "$x" \
                "$(echo "$a / $b" | bc -l)" "$(echo "$pa - $pb" | bc -l)"
        done
    done
done

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
#
#   bench/encoder_bench.sh BUILD_DIR [frames] threads [runs]
# Slice threads instead: 720x576 in 4 slices at constant QP, efforts 0 and 1 (CAVLC) and
# 1 in CABAC (1a), coded on 1 and on 4 threads in turn `runs` times (default 5); prints
# the best and the median wall time and frames/s of each, the processor time (user +
# system) of the best run, the speed-up of the bests and medians, the load average before
# and after, and whether both streams are identical. The clip is the real-content one of
# encoder_compare.sh (mandelbrot zoom under noise); CLIP=testsrc2 takes the scrolling
# test pattern instead. PIN="taskset -c 4-7" (say) pins every run; on a loaded machine
# the processor times show how much of each run's wall time was spent waiting.
set -eu
build=${1:?usage: encoder_bench.sh BUILD_DIR [frames] [threads [runs]]}
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

if [ "${3:-}" = threads ]; then
    runs=${4:-5}
    src="$work/src.y4m"
    clip="mandelbrot=size=720x576:rate=25,scroll=h=0.002:v=0.001,noise=alls=5:allf=t"
    [ "${CLIP:-}" = testsrc2 ] && clip="testsrc2=size=720x576:rate=25,scroll=h=0.003:v=0.002,noise=alls=6:allf=t"
    ffmpeg -nostdin -v error -f lavfi -i "$clip" -frames:v "$frames" -pix_fmt yuv420p "$src"
    median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
    # timed CMD...: "wall processor" seconds of one run.
    timed() {
        /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>&1
        awk '{printf "%s %.2f\n", $1, $2 + $3}' "$work/time"
    }
    echo "== 720x576 ${CLIP:-mandelbrot}, $frames pictures, QP 26, GOP 50, one B picture, 4 slices, $runs runs each${PIN:+, pinned: $PIN}"
    echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
    for effort in 0 1 1a; do
        : >"$work/t1"
        : >"$work/t4"
        cabac=
        [ "$effort" = 1a ] && cabac=-a
        i=0
        while [ "$i" -lt "$runs" ]; do
            for t in 1 4; do
                # shellcheck disable=SC2086
                timed ${PIN:-} "$enc" $cabac -q 26 -e "${effort%a}" -g 50 -n 1 -R 1 -S 4 -t "$t" "$src" "$work/t$t.264" \
                    >>"$work/t$t"
            done
            i=$((i + 1))
        done
        b1=$(sort -n "$work/t1" | head -1 | cut -d' ' -f1)
        c1=$(sort -n "$work/t1" | head -1 | cut -d' ' -f2)
        b4=$(sort -n "$work/t4" | head -1 | cut -d' ' -f1)
        c4=$(sort -n "$work/t4" | head -1 | cut -d' ' -f2)
        m1=$(cut -d' ' -f1 "$work/t1" | median)
        m4=$(cut -d' ' -f1 "$work/t4" | median)
        same=no
        cmp -s "$work/t1.264" "$work/t4.264" && same=yes
        printf 'effort %-2s: 1 thread best %.2f s (%.1f fps, %.2f s processor) median %.2f s (%.1f fps)\n' \
            "$effort" "$b1" "$(echo "$frames / $b1" | bc -l)" "$c1" "$m1" "$(echo "$frames / $m1" | bc -l)"
        printf '           4 threads best %.2f s (%.1f fps, %.2f s processor) median %.2f s (%.1f fps)\n' \
            "$b4" "$(echo "$frames / $b4" | bc -l)" "$c4" "$m4" "$(echo "$frames / $m4" | bc -l)"
        printf '           speed-up %.2fx (bests), %.2fx (medians); identical streams: %s\n' \
            "$(echo "$b1 / $b4" | bc -l)" "$(echo "$m1 / $m4" | bc -l)" "$same"
    done
    echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
    exit 0
fi

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

# With ENCODER_BENCH_RATE=1 the script then measures the rate control at 720x576 (effort 0): the
# bit rate against 1, 2 and 4 Mbit/s in both bit-rate modes on two clips, then 1 and 0.5
# frames/s and 600 black pictures (pictures coded and the rate reached).
# rate CLIP FRAMES FPS MODE-FLAG KBIT: our bit rate against the target.
rate() {
    out="$work/rate.264"
    "$enc" -b "$5" $4 -r "$3" -g 50 -n 1 -e 0 -t 1 -f "$2" "$1" "$out" >/dev/null
    n=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$out")
    awk -v s="$(stat -c %s "$out")" -v k="$5" -v n="$n" -v f="$3" -v m="${4:--b}" -v c="$(basename "$1")" \
        'BEGIN{printf "%-16s %-3s %5s fps %5d kbit/s: %4d pictures, %+6.1f%%\n", c, m, f, k, n, (s*8*f/n/1000/k-1)*100}'
}
if [ "${ENCODER_BENCH_RATE:-0}" = 1 ]; then
    echo "== rate control, 720x576, $frames pictures, GOP 50, one B picture, effort 0"
    for clip in "noisy testsrc2=size=720x576:rate=25,scroll=h=0.003:v=0.002,noise=alls=6:allf=t" \
        "mandelbrot mandelbrot=size=720x576:rate=25" "black color=black:size=720x576:rate=25"; do
        name=${clip%% *}
        n=$frames
        [ "$name" = black ] && n=600
        ffmpeg -nostdin -v error -f lavfi -i "${clip#* }" -frames:v "$n" -pix_fmt yuv420p "$work/$name.y4m"
    done
    for flag in "" -c; do
        for kbps in 1000 2000 4000; do
            rate "$work/noisy.y4m" "$frames" 25 "$flag" "$kbps"
            rate "$work/mandelbrot.y4m" "$frames" 25 "$flag" "$kbps"
        done
        rate "$work/noisy.y4m" 30 1 "$flag" 2000
        rate "$work/noisy.y4m" 30 0.5 "$flag" 2000
        rate "$work/black.y4m" 600 25 "$flag" 2000
    done
    rm -f "$work"/*.y4m
fi

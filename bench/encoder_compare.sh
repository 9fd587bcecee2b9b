#!/bin/sh
# The encoder against x264 on real content, one thread each, pinned to one processor.
#   bench/encoder_compare.sh BUILD_DIR [frames] [runs]
# The clip: 720x576, 25 frames/s, a mandelbrot zoom panning under temporal noise (made
# with ffmpeg). At 2000 kbit/s (GOP 50) it codes with our fast mode (effort 0, CAVLC, no
# B pictures), effort 0 CAVLC, efforts 0, 1 and 2 in CABAC (the driver's one B picture),
# effort 1 CABAC with three B pictures as veryfast has (e1a3), and with x264 ultrafast
# and veryfast (Main profile, no 8x8 transform), `runs` times each (default 3) with the
# coders alternating, and prints the least and the median frames per second of processor
# time (user + system: the machine may be shared), the rate reached and the PSNR against
# the source (ffmpeg's psnr filter), each row with the load average when it ended. Then
# the rate curves: 500, 1000, 2000 and 4000 kbit/s for each coder and x264 medium; the
# PSNR of each of ours at the rate its x264 counterpart reached (interpolated on its
# curve), and the BD-rate of each against veryfast and medium; and the rate control of
# effort 1 CABAC, of effort 0 CAVLC (one B picture) and of the fast mode: 500, 2000 and
# 6000 kbit/s, VBR and CBR, the rate against the target, CBR's worst one-second window
# and the PSNR. An effort table gives
# each coder's PSNR at exactly those four rates and names any CABAC effort level that
# falls below the level under it. PIN (default "taskset -c 7") pins every timed run. The speed table
# always runs; SECTIONS (default "curves rate") names the parts after it (empty: none, for a
# change that keeps every stream the same).
# Variables named by eval (fps_e0, curve_fast, ...) are read back through eval.
# shellcheck disable=SC2154
set -eu
build=${1:?usage: encoder_compare.sh BUILD_DIR [frames] [runs]}
frames=${2:-300}
runs=${3:-3}
pin=${PIN-taskset -c 7}
enc="$build/tools/ombrisk_enc"
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src="$work/src.y4m"
ffmpeg -nostdin -v error -f lavfi \
    -i "mandelbrot=size=720x576:rate=25,scroll=h=0.002:v=0.001,noise=alls=5:allf=t,format=yuv420p" \
    -frames:v "$frames" "$src"

load() { cut -d' ' -f1-3 /proc/loadavg; }
psnr() {
    ffmpeg -nostdin -v info -i "$1" -i "$2" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
        sed -n 's/.*average:\([0-9.inf]*\).*/\1/p' | tail -1
}
kbits() { printf "%.1f" "$(echo "$(stat -c %s "$1") * 8 * 25 / $frames / 1000" | bc -l)"; }
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# code CODER KBIT OUT: one run of a coder.
code() {
    case $1 in
    fast) set -- "$enc" -e 0 -n 0 -b "$2" -g 50 -t 1 "$src" "$3" ;;
    e0) set -- "$enc" -e 0 -b "$2" -g 50 -t 1 "$src" "$3" ;;
    e[0-2]a) set -- "$enc" -a -e "$(echo "$1" | cut -c2)" -b "$2" -g 50 -t 1 "$src" "$3" ;;
    e[0-2]a3) set -- "$enc" -a -e "$(echo "$1" | cut -c2)" -n 3 -b "$2" -g 50 -t 1 "$src" "$3" ;;
    *) set -- x264 --quiet --threads 1 --profile main --no-8x8dct --preset "$1" --keyint 50 --bitrate "$2" \
        -o "$3" "$src" ;;
    esac
    # shellcheck disable=SC2086
    $pin "$@" >/dev/null 2>&1
}
echo "== 720x576, $frames pictures, 2000 kbit/s, $runs alternating runs, ${pin:-unpinned}"
echo "load average before: $(load)"
coders="fast e0 e0a e1a e1a3 e2a ultrafast veryfast"
i=0
while [ "$i" -lt "$runs" ]; do
    for c in $coders; do
        t0=$(awk '{print $14 + $15 + $16 + $17}' /proc/$$/stat)
        code "$c" 2000 "$work/$c.264"
        # The children's processor time, in clock ticks, grows by what the run took.
        t1=$(awk '{print $14 + $15 + $16 + $17}' /proc/$$/stat)
        echo "$frames * $(getconf CLK_TCK) / ($t1 - $t0)" | bc -l >>"$work/$c.fps"
    done
    i=$((i + 1))
done
printf '%-10s %8s %8s %9s %8s  %s\n' coder min-fps med-fps kbit/s PSNR "load average"
for c in $coders; do
    lo=$(sort -n "$work/$c.fps" | head -1)
    med=$(median <"$work/$c.fps")
    p=$(psnr "$work/$c.264" "$src")
    eval "fps_$c=$med psnr_$c=$p rate_$c=$(kbits "$work/$c.264")"
    printf '%-10s %8.1f %8.1f %9.0f %8s  %s\n' "$c" "$lo" "$med" "$(kbits "$work/$c.264")" "$p" "$(load)"
done
echo "load average after: $(load)"
pairs="fast:ultrafast e0:veryfast e0a:veryfast e1a:veryfast e1a3:veryfast e2a:veryfast"
for pair in $pairs; do
    a=${pair%:*} b=${pair#*:}
    eval "fa=\$fps_$a fb=\$fps_$b pa=\$psnr_$a pb=\$psnr_$b"
    printf '%-4s against %-10s median fps ratio %.2f, PSNR %+.2f dB (at the rates reached)\n' "$a" "$b" \
        "$(echo "$fa / $fb" | bc -l)" "$(echo "$pa - $pb" | bc -l)"
done

sections=" ${SECTIONS-curves rate} "
want() { case $sections in *" $1 "*) return 0 ;; *) return 1 ;; esac; }
want curves || want rate || exit 0
if want curves; then
echo "== rate curves (500, 1000, 2000, 4000 kbit/s), PSNR at equal rate and BD-rate"
for c in fast e0 e0a e1a e1a3 e2a ultrafast veryfast medium; do
    curve=""
    for r in 500 1000 2000 4000; do
        code "$c" "$r" "$work/curve.264"
        curve="$curve$(kbits "$work/curve.264"):$(psnr "$work/curve.264" "$src"),"
    done
    eval "curve_$c=$curve"
    echo "$c: $curve"
done
for pair in $pairs; do
    a=${pair%:*} b=${pair#*:}
    eval "ca=\$curve_$a cb=\$curve_$b rb=\$rate_$b pb=\$psnr_$b"
    printf '%-4s at %-9s rate (%.0f kbit/s): PSNR %+.2f dB\n' "$a" "$b's" "$rb" \
        "$(echo "$(python3 "$here/bd_rate.py" --at "$rb" "$ca") - $pb" | bc -l)"
done
# The effort table: each coder's PSNR at exactly 500, 1000, 2000 and 4000 kbit/s (on its
# curve), and whether a CABAC effort level falls below the one under it at some rate.
printf '%-10s %8s %8s %8s %8s  (PSNR at equal rate)\n' coder 500 1000 2000 4000
for c in fast e0 e0a e1a e1a3 e2a ultrafast veryfast medium; do
    eval "t=\$curve_$c"
    row=""
    for r in 500 1000 2000 4000; do
        p=$(python3 "$here/bd_rate.py" --at "$r" "$t")
        row="$row $p"
        eval "at_${c}_$r=$p"
    done
    # shellcheck disable=SC2086
    printf '%-10s %8.2f %8.2f %8.2f %8.2f\n' "$c" $row
done
for pair in e0a:e1a e1a:e2a; do
    lo=${pair%:*} hi=${pair#*:}
    for r in 500 1000 2000 4000; do
        eval "a=\$at_${lo}_$r b=\$at_${hi}_$r"
        if [ "$(echo "$b < $a" | bc -l)" = 1 ]; then
            printf 'CROSSING: %s below %s at %s kbit/s (%.2f dB against %.2f)\n' "$hi" "$lo" "$r" "$b" "$a"
        fi
    done
done
for c in fast e0 e0a e1a e1a3 e2a; do
    eval "t=\$curve_$c"
    printf '%-4s BD-rate against veryfast %s %%, against medium %s %%\n' "$c" \
        "$(python3 "$here/bd_rate.py" "$curve_veryfast" "$t")" "$(python3 "$here/bd_rate.py" "$curve_medium" "$t")"
done

fi
want rate || exit 0
echo "== rate control (effort 1 CABAC, effort 0 CAVLC with its B picture, and the fast mode)"
for coder in e1a e0 fast; do
    for mode in "" -c; do
        for r in 500 2000 6000; do
            case $coder in
            fast) set -- -e 0 -n 0 ;;
            e0) set -- -e 0 ;;
            *) set -- -a -e 1 ;;
            esac
            # shellcheck disable=SC2086
            "$enc" "$@" $mode -b "$r" -g 50 -t 2 "$src" "$work/rc.264" >/dev/null
            p=$(psnr "$work/rc.264" "$src")
            ffprobe -v error -show_entries packet=size -of csv=p=0 "$work/rc.264" | awk -v t="$r" -v p="$p" \
                -v m="$coder $([ -n "$mode" ] && echo CBR || echo VBR)" '
                {s[NR] = $1} END {
                    n = NR; tot = 0; worst = 0
                    for (i = 1; i <= n; i++) tot += s[i]
                    w = 0
                    for (i = 1; i <= n; i++) {
                        w += s[i]; if (i > 25) w -= s[i - 25]
                        if (i >= 25) { d = w * 8 / 1000 / t - 1; if (d < 0) d = -d; if (d > worst) worst = d }
                    }
                    printf "%-8s %5d kbit/s: %+.1f%%, worst one-second window %.1f%% off, PSNR %s\n", m, t,
                        (tot * 8 * 25 / n / 1000 / t - 1) * 100, worst * 100, p
                }'
        done
    done
done

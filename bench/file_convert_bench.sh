#!/bin/sh
# The conversion engine beside ffmpeg: a 60-second 720x576 DV AVI (a camcorder's capture)
# into the built-in DVD profile "DVD 720x576 25 fps 8000 kbit/s" by file_convert under
# Wine, and by ffmpeg with the same encoders and settings (MPEG-2 video at 8 Mbit/s,
# 4-8.3 Mbit/s bounds, 224 KiB buffer, GOP of 13 with 2 B pictures, interlaced top field
# first; layer II audio 224 kbit/s 48 kHz stereo; DVD program stream at 10.08 Mbit/s in
# 2,048-byte packs; bicubic scaling; one decoder and one encoder thread, as the engine).
# One run of each in turn, three times; prints each wall time (file_convert's includes
# starting its Wine process) and the ratio of the medians (target: at most 1.3), and beside
# them each run's CPU time (user + system of the process and its children; Wine's server,
# shared by every Wine process of the prefix, is not counted) with the ratio of its
# medians, which a loaded machine disturbs less than the wall time; and the load average.
#
#   bench/file_convert_bench.sh BUILD_DIR [seconds]
# BUILD_DIR is a Windows build (e.g. build/win); PIN="taskset -c 4-7" pins every run.
set -eu
build=$(cd "${1:?usage: file_convert_bench.sh BUILD_DIR [seconds]}" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")/.." && pwd)
pin=${PIN:-}
work=$(mktemp -d "$build/bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

src="$work/source.avi"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=4:allf=t" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$seconds" \
    -pix_fmt yuv420p -c:v dvvideo -c:a pcm_s16le -ac 2 -f avi "$src"

now() { date +%s.%N; }
winpath() { echo "Z:$1" | sed 's|/|\\|g'; }  # Wine's drive Z: is the Unix root
ours() {
    $pin "$here/scripts/wine-run" "$build/engines/file_convert.exe" --resources "$build/app/resources/Tovrt.dll" \
        --profile "DVD 720x576 25 fps 8000 kbit/s" -o "$(winpath "$work/ours.mpg")" \
        "$(winpath "$src")" >"$work/ours.log" 2>&1
}
theirs() {
    $pin ffmpeg -nostdin -v error -y -threads 1 -i "$src" -threads 1 -sws_flags bicubic -s 720x576 -r 25 \
        -c:v mpeg2video -b:v 8000k -minrate 4000k -maxrate 8300k -bufsize 1835008 -g 13 -bf 2 \
        -flags +ildct+ilme -top 1 -c:a mp2 -b:a 224k -ar 48000 -ac 2 \
        -f dvd -muxrate 10080000 -packetsize 2048 -muxpreload 0.5 "$work/theirs.mpg"
}
# The CPU time of the shell's finished children (seconds) as the `times` builtin last wrote
# it; `times` itself runs in this shell, as a subshell would count only its own children.
children_cpu() {
    sed -n 2p "$work/times" | awk '{ t = 0; for (i = 1; i <= 2; i++) { split($i, p, "m"); t += p[1] * 60 + p[2] } print t }'
}
# Runs the command; sets `wall` and `cpu` (seconds).
time_of() {
    times >"$work/times"
    c=$(children_cpu)
    s=$(now)
    "$@"
    e=$(now)
    times >"$work/times"
    wall=$(echo "$e - $s" | bc -l)
    cpu=$(echo "$(children_cpu) - $c" | bc -l)
}
# A first run of each outside the figures: Wine's prefix and the disk cache warm up.
ours
theirs
a=""
b=""
ca=""
cb=""
for i in 1 2 3; do
    time_of ours
    t=$wall
    ct=$cpu
    time_of theirs
    u=$wall
    cu=$cpu
    a="$a $t"
    b="$b $u"
    ca="$ca $ct"
    cb="$cb $cu"
    printf 'run %d: file_convert %.2f s (CPU %.2f s), ffmpeg %.2f s (CPU %.2f s); load %s\n' "$i" "$t" "$ct" "$u" "$cu" \
        "$(cut -d' ' -f1-3 /proc/loadavg)"
done
median() { echo "$@" | tr ' ' '\n' | sed '/^$/d' | sort -n | sed -n 2p; }
ma=$(median $a)
mb=$(median $b)
printf 'median: file_convert %.2f s, ffmpeg %.2f s, ratio %.2f (target <= 1.30)\n' "$ma" "$mb" "$(echo "$ma / $mb" | bc -l)"
ma=$(median $ca)
mb=$(median $cb)
printf 'median CPU: file_convert %.2f s, ffmpeg %.2f s, ratio %.2f\n' "$ma" "$mb" "$(echo "$ma / $mb" | bc -l)"
ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$work/ours.mpg" | tr '\n' ' '
echo

#!/bin/sh
# The common bitstream layer against today's code, on a 20-second 720x576 H.264 stream at
# 8 Mbit/s made by x264, next to ffmpeg's stream copy of the same file.
#   bench/bitstream_bench.sh [BUILD_DIR [--benchmark_... flags]]   (default build/host)
set -eu
build=${1:-build/host}
[ $# -gt 0 ] && shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v 500 \
    -vf noise=alls=8:allf=t -pix_fmt yuv420p -f rawvideo "$work/in.yuv"
x264 --quiet --preset veryfast --bitrate 8000 --vbv-maxrate 8000 --vbv-bufsize 8000 --fps 25 \
    --input-res 720x576 -o "$work/in.264" "$work/in.yuv" 2>/dev/null
ls -l "$work/in.264"
"$build/bench/bitstream_bench" "$work/in.264" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@"
echo "ffmpeg -c copy -f null on the same file:"
for i in 1 2 3; do
    ffmpeg -nostdin -hide_banner -benchmark -i "$work/in.264" -c copy -f null - 2>&1 | grep -E "bench:"
done

#!/bin/sh
# Long inputs through mux_tool, outside the test run (a 10 min input takes minutes to make
# and judge): 1 video and 2 audio streams of 10 s, 60 s and 600 s, muxed into a program
# stream, a DVD stream and a transport stream, each twice with the input read in other
# pieces. Each output must pass the structural checker, be the same both times, show no
# decoding time before its PCR in tsreport (transport streams) and be taken by dvdauthor
# (DVD streams). Prints one line per output; exit status 1 when any fails.
#
#   tools/mux_long_check.sh BUILD_DIR [WORK_DIR] [SECONDS...]
#   (BUILD_DIR: a host build, e.g. build/host; WORK_DIR defaults to /tmp/mux_long)
set -u
build=$(cd "$1" && pwd) || exit 2
work=${2:-/tmp/mux_long}
shift $(( $# >= 2 ? 2 : 1 ))
lengths=${*:-10 60 600}
tool=$build/tools/mux_tool
check=$build/filters/muxer/core/tests/systems_check
mkdir -p "$work" && cd "$work" || exit 2
failed=0
for t in $lengths; do
    if [ ! -s "v_$t.m2v" ]; then
        ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=720x576:rate=25 \
            -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$t" -map 0:v -map 1:a -map 1:a \
            -c:v mpeg2video -b:v 5M -g 12 -bf 2 -c:a:0 mp2 -b:a:0 192k -c:a:1 ac3 -b:a:1 192k \
            -f mpegts "src_$t.ts" &&
            ffmpeg -nostdin -v error -y -i "src_$t.ts" -map 0:0 -c copy -f mpeg2video "v_$t.m2v" \
                -map 0:1 -c copy -f mp2 "a_$t.mp2" -map 0:2 -c copy -f ac3 "a_$t.ac3" || exit 2
    fi
    for f in ps dvd ts; do
        out=out_$t.$f
        "$tool" -f "$f" -o "$out" "v_$t.m2v" "a_$t.mp2" "a_$t.ac3" >/dev/null &&
            "$tool" -f "$f" --chunk 7001 -o "again_$out" "v_$t.m2v" "a_$t.mp2" "a_$t.ac3" >/dev/null || {
            echo "$t s $f: mux_tool failed"
            failed=1
            continue
        }
        verdict=$("$check" "$f" "$out")
        status=$?
        cmp -s "$out" "again_$out" && same="same bytes twice" || { same="RUNS DIFFER"; status=1; }
        extra=""
        if [ "$f" = ts ]; then
            low=$(tsreport -b "$out" | sed -n 's/.*Minimum difference was \(-\{0,1\}[0-9]*\)t.*/\1/p' | sort -n | head -1)
            extra="; least PCR-to-DTS ${low}t"
            [ "${low:--1}" -ge 0 ] || status=1
        fi
        if [ "$f" = dvd ]; then
            if VIDEO_FORMAT=PAL dvdauthor -o "dvd_$t" -t "$out" >dvdauthor.log 2>&1 && ! grep -q ERR dvdauthor.log; then
                extra="; dvdauthor takes it"
            else
                extra="; DVDAUTHOR REFUSES IT"
                status=1
            fi
            rm -rf "dvd_$t"
        fi
        echo "$t s $f: $verdict; $same$extra"
        [ "$status" -eq 0 ] || failed=1
        rm -f "again_$out"
    done
done
exit $failed

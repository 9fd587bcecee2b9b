#!/usr/bin/env bash
# Cross-compiles the minimal FFmpeg the conversion and capture engines use (LGPL, shared
# libraries, with LAME's MPEG Layer-3 encoder linked into libavcodec) for
# x86_64-w64-mingw32 from the sources fetch.sh unpacked. The result lands in the machine's
# cache under a folder named by the source versions and a hash of this script, so it is
# built once per version and configuration and reused by every clone.
#
#   third_party/ffmpeg/build.sh [--jobs N]      builds if needed; prints the prefix last
#   third_party/ffmpeg/build.sh --print-prefix  prints the prefix, builds nothing
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=cache.sh
. "$here/cache.sh"

jobs=$(nproc)
print_only=0
while [ $# -gt 0 ]; do
    case "$1" in
        --jobs) jobs=$2; shift 2 ;;
        --print-prefix) print_only=1; shift ;;
        *) echo "build.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

src=$(cached_source ffmpeg)
lame_src=$(cached_source lame)
[ -n "$src" ] && [ -n "$lame_src" ] ||
    { echo "build.sh: the FFmpeg or LAME source is missing in $(suite_cache_root); run scripts/setup" >&2; exit 1; }

config_hash=$( (cat "$here/build.sh" "$here/cache.sh"; echo "$lame_src") | sha1sum | cut -c1-12)
prefix=$(dirname "$src")/win64-$config_hash
if [ "$print_only" = 1 ]; then
    echo "$prefix"
    exit 0
fi

exec 9>"$(dirname "$src")/build.lock"
flock 9  # a second clone building at the same time waits for the first
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

list() { local IFS=,; echo "$*"; }
encoders=(mpeg1video mpeg2video mpeg4 msmpeg4v3 mjpeg dvvideo wmv2 rpza libmp3lame mp2 ac3 aac wmav2 pcm_s16le
          pcm_s16be)
decoders=(mpeg1video mpeg2video mpeg4 msmpeg4v1 msmpeg4v2 msmpeg4v3 h263 h264 dvvideo mjpeg wmv1 wmv2 rawvideo
          mp1 mp2 mp3 ac3 eac3 aac wmav1 wmav2 pcm_s16le pcm_s16be pcm_u8 pcm_s24le dvaudio)
demuxers=(mpegps mpegts mpegvideo avi mov dv asf h264 m4v mp3 ac3 aac wav)
muxers=(mpeg1system mpeg1vcd mpeg2vob mpeg2svcd mpeg2dvd dv avi mov mp4 asf)
parsers=(mpegvideo mpeg4video h264 mpegaudio ac3 aac dvaudio)
bsfs=(h264_mp4toannexb aac_adtstoasc)

build=$(mktemp -d "$(dirname "$src")/build.XXXXXX")
stage=$build/stage
trap 'rm -rf "$build"' EXIT
(
    # LAME first: a static library that libavcodec's DLL takes in whole.
    mkdir "$build/lame"
    cd "$build/lame"
    "$lame_src/configure" --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
        --prefix="$build/lame-stage" --disable-shared --enable-static --disable-frontend \
        --disable-decoder --disable-gtktest >configure.log 2>&1 ||
        { tail -30 configure.log >&2; exit 1; }
    make -j"$jobs" >make.log 2>&1 && make install >install.log 2>&1 || { tail -30 make.log >&2; exit 1; }
    cd "$build"
    "$src/configure" \
        --prefix="$stage" \
        --target-os=mingw32 --arch=x86_64 --enable-cross-compile \
        --cross-prefix=x86_64-w64-mingw32- --cc=x86_64-w64-mingw32-gcc-posix \
        --pkg-config=false \
        --enable-shared --disable-static \
        --disable-autodetect --enable-w32threads \
        --disable-programs --disable-doc --disable-network --disable-debug \
        --disable-avdevice --disable-avfilter --disable-postproc \
        --disable-everything \
        --enable-swscale --enable-swresample \
        --enable-protocol=file \
        --enable-encoder="$(list "${encoders[@]}")" \
        --enable-decoder="$(list "${decoders[@]}")" \
        --enable-demuxer="$(list "${demuxers[@]}")" \
        --enable-muxer="$(list "${muxers[@]}")" \
        --enable-parser="$(list "${parsers[@]}")" \
        --enable-bsf="$(list "${bsfs[@]}")" \
        --enable-libmp3lame --extra-cflags="-I$build/lame-stage/include" \
        --extra-ldflags="-static-libgcc -L$build/lame-stage/lib" >configure.log 2>&1 ||
        { tail -30 ffbuild/config.log >&2; exit 1; }
    make -j"$jobs" >make.log 2>&1 || { tail -30 make.log >&2; exit 1; }
    make install >install.log 2>&1 || { tail -30 install.log >&2; exit 1; }
)
# The DLLs land in bin/, the import libraries in lib/.
rm -rf "$prefix"
mv "$stage" "$prefix"
touch "$prefix/.complete"
echo "$prefix"

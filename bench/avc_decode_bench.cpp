// Decoder core speed next to ffmpeg's single-threaded h264 decoder on the same stream.
//
//   avc_decode_bench [stream.264] [repeats]
//
// Without a stream, x264 makes a 720x576 Baseline intra-only stream (100 pictures, every
// one an IDR, CRF 20) from ffmpeg's testsrc2 in the current folder. Prints frames per
// second of the core (decoding to yuv420p, cropping included) and of
// `ffmpeg -threads 1 -f null` on the same bytes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/avc_decode.h"

namespace {

double FfmpegSeconds(const std::string& stream) {
    const std::string cmd = "ffmpeg -hide_banner -nostdin -threads 1 -benchmark -i '" + stream +
                            "' -f null - 2>&1 | grep -o 'rtime=[0-9.]*' | tail -1 | cut -d= -f2";
    std::FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return -1;
    double seconds = -1;
    if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
    pclose(p);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    std::string stream = argc > 1 ? argv[1] : "";
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    if (stream.empty()) {
        stream = "avc_decode_bench_720x576_intra.264";
        const std::string make =
            "ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i testsrc2=size=720x576:rate=25 "
            "-frames:v 100 -pix_fmt yuv420p -f rawvideo avc_decode_bench.yuv && "
            "x264 --quiet --profile baseline --keyint 1 --crf 20 --input-res 720x576 --fps 25 -o " +
            stream + " avc_decode_bench.yuv && rm -f avc_decode_bench.yuv";
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "avc_decode_bench: making the stream failed (ffmpeg and x264 needed)\n");
            return 1;
        }
    }
    std::ifstream in(stream, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        std::fprintf(stderr, "avc_decode_bench: cannot read %s\n", stream.c_str());
        return 1;
    }
    // Interleaved, best of each: both see the same machine load.
    double best = 1e30, ffmpegBest = 1e30;
    int frames = 0;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        const tools::DecodeSummary s = tools::DecodeByteStream(bytes, 0, [](const tools::DecodedFrame&) {});
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        frames = s.frames;
        if (seconds < best) best = seconds;
        const double ffmpegSeconds = FfmpegSeconds(stream);
        if (ffmpegSeconds > 0 && ffmpegSeconds < ffmpegBest) ffmpegBest = ffmpegSeconds;
    }
    std::printf("stream %s: %d frames\n", stream.c_str(), frames);
    std::printf("decoder core: %.1f frames/s (best of %d)\n", frames / best, repeats);
    if (ffmpegBest < 1e30)
        std::printf("ffmpeg -threads 1: %.1f frames/s (best of %d)\n", frames / ffmpegBest, repeats);
    else
        std::printf("ffmpeg -threads 1: not measured\n");
    return 0;
}

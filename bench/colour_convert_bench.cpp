// The decoder filter's colour converter next to swscale on the same pictures.
//
//   colour_convert_bench [repeats]
//
// ffmpeg makes 100 pictures of testsrc2 at 720x576 (yuv420p) in the current folder. For
// RGB32, RGB24, YUY2 and YV12 prints the converter's pictures per second (one thread,
// source in the frame store's layout), with its SSE2 forms where the processor has them
// and with its portable forms only, and ffmpeg's for the same conversion
// (`-threads 1 -f null`, its reading of the raw file included), with the exact-rounding
// flags whose output the converter's RGB equals, and with swscale's default flags.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "filters/decoder/colour_convert.h"

namespace {

constexpr int kW = 720, kH = 576, kFrames = 100;

double FfmpegSeconds(const std::string& pixFmt, const std::string& flags) {
    const std::string cmd =
        "ffmpeg -hide_banner -nostdin -threads 1 -benchmark -f rawvideo -pix_fmt yuv420p -s 720x576 -i "
        "colour_convert_bench.yuv " +
        flags + " -pix_fmt " + pixFmt + " -f null - 2>&1 | grep -o 'rtime=[0-9.]*' | tail -1 | cut -d= -f2";
    std::FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return -1;
    double seconds = -1;
    if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
    pclose(p);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 5;
    if (std::system("ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i testsrc2=size=720x576:rate=25 "
                    "-frames:v 100 -pix_fmt yuv420p -f rawvideo colour_convert_bench.yuv") != 0) {
        std::fprintf(stderr, "colour_convert_bench: ffmpeg is needed\n");
        return 1;
    }
    std::ifstream in("colour_convert_bench.yuv", std::ios::binary);
    const std::vector<uint8_t> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (raw.size() != size_t(kW) * kH * 3 / 2 * kFrames) return 1;
    // The pictures in the frame store's layout: pitch W + 64, U and V side by side.
    const int pitch = kW + 64;
    std::vector<std::vector<uint8_t>> luma(kFrames), chroma(kFrames);
    for (int f = 0; f < kFrames; ++f) {
        const uint8_t* p = raw.data() + size_t(f) * kW * kH * 3 / 2;
        luma[f].assign(size_t(pitch) * (kH + 2), 0);
        chroma[f].assign(size_t(pitch) * (kH / 2 + 2), 0);
        for (int y = 0; y < kH; ++y)
            std::copy_n(p + y * kW, kW, luma[f].data() + y * pitch);
        for (int y = 0; y < kH / 2; ++y) {
            std::copy_n(p + kW * kH + y * kW / 2, kW / 2, chroma[f].data() + y * pitch);
            std::copy_n(p + kW * kH * 5 / 4 + y * kW / 2, kW / 2, chroma[f].data() + y * pitch + pitch / 2);
        }
    }
    struct Case {
        const char* name;
        pelldrin::PixelLayout layout;
        const char* ffmpegFormat;
    };
    const Case cases[] = {{"RGB32", pelldrin::PixelLayout::rgb32, "bgra"},
                          {"RGB24", pelldrin::PixelLayout::rgb24, "bgr24"},
                          {"YUY2", pelldrin::PixelLayout::yuy2, "yuyv422"},
                          {"YV12", pelldrin::PixelLayout::yv12, "yuv420p"}};
    pelldrin::OutputGeometry geometry{400000, kW, kH, 0, 0, kW, kH, 4, 3, 2868, 2868};
    // Pictures per second of one converter set-up, best of `repeats`.
    auto converterRate = [&](const Case& c, bool vector, int repeats) {
        pelldrin::ColourConverter converter(&geometry);
        converter.SetVectorForms(vector);
        if (!converter.SetOutputType({c.layout, kW, -kH})) return 0.0;
        std::vector<uint8_t> out(converter.RequiredBytes());
        double best = 1e30;
        for (int r = 0; r < repeats; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            for (int f = 0; f < kFrames; ++f) {
                const pelldrin::SourcePicture source{luma[f].data(), chroma[f].data(), chroma[f].data() + pitch / 2,
                                                     pitch, kH};
                converter.Convert(source, out.data(), out.size(), false, 0);
            }
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        return kFrames / best;
    };
    {
        pelldrin::ColourConverter probe(&geometry);
        std::printf("SSE2 forms: %s\n", probe.VectorForms() ? "yes" : "no (portable only)");
    }
    for (const Case& c : cases) {
        double exact = 1e30, plain = 1e30;
        for (int r = 0; r < repeats; ++r) {
            const double e = FfmpegSeconds(c.ffmpegFormat, "-sws_flags neighbor+accurate_rnd+full_chroma_int");
            if (e > 0 && e < exact) exact = e;
            const double d = FfmpegSeconds(c.ffmpegFormat, "");
            if (d > 0 && d < plain) plain = d;
        }
        const double vector = converterRate(c, true, repeats), portable = converterRate(c, false, repeats);
        std::printf(
            "%-5s converter SSE2 %7.1f   portable %7.1f pictures/s   ffmpeg exact %7.1f   ffmpeg default %7.1f "
            "(best of %d)\n",
            c.name, vector, portable, exact < 1e30 ? kFrames / exact : 0.0, plain < 1e30 ? kFrames / plain : 0.0,
            repeats);
    }
    std::remove("colour_convert_bench.yuv");
    return 0;
}

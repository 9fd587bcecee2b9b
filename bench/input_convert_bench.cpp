// The encoder filter's input conversion next to swscale on the same pictures.
//
//   input_convert_bench [repeats]
//
// ffmpeg makes 100 pictures of testsrc2 at 720x576 in each source format (bgra, bgr24,
// yuyv422, uyvy422, yuv420p) in the current folder. Prints the conversion's pictures per
// second into the encoder's planar 4:2:0 (one thread; RGB rows are bottom-up DIB rows, as
// the filter takes them), and ffmpeg's for the same conversion to yuv420p (`-threads 1
// -f null`, its reading of the raw file included).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "filters/encoder/input_convert.h"

namespace {

constexpr int kW = 720, kH = 576, kFrames = 100;

double FfmpegSeconds(const std::string& file, const std::string& pixFmt) {
    const std::string cmd = "ffmpeg -hide_banner -nostdin -threads 1 -benchmark -f rawvideo -pix_fmt " + pixFmt +
                            " -s 720x576 -i " + file +
                            " -pix_fmt yuv420p -f null - 2>&1 | grep -o 'rtime=[0-9.]*' | tail -1 | cut -d= -f2";
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
    struct Format {
        const char* name;
        const char* pixFmt;
        ombrisk::InputFormat format;
    } formats[] = {{"I420", "yuv420p", ombrisk::InputFormat::i420},
                   {"YUY2", "yuyv422", ombrisk::InputFormat::yuy2},
                   {"UYVY", "uyvy422", ombrisk::InputFormat::uyvy},
                   {"RGB32", "bgra", ombrisk::InputFormat::rgb32},
                   {"RGB24", "bgr24", ombrisk::InputFormat::rgb24}};
    std::printf("%-6s %14s %14s\n", "format", "ours (fps)", "ffmpeg (fps)");
    for (const Format& f : formats) {
        const std::string file = std::string("input_convert_bench_") + f.pixFmt + ".raw";
        const std::string make = "ffmpeg -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v " +
                                 std::to_string(kFrames) + " -pix_fmt " + f.pixFmt + " -f rawvideo " + file;
        if (std::system(make.c_str()) != 0) return 1;
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const ombrisk::InputLayout layout{f.format, kW, kH, false};
        const size_t picture = size_t(ombrisk::InputPictureBytes(layout));
        if (raw.size() < picture * kFrames) return 1;
        std::vector<uint8_t> out(ombrisk::CodedPictureSize(kW, kH).bytes());
        const auto t0 = std::chrono::steady_clock::now();
        for (int r = 0; r < repeats; ++r)
            for (int i = 0; i < kFrames; ++i)
                ombrisk::ConvertInput(layout, raw.data() + picture * i, picture, out.data());
        const double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double theirs = FfmpegSeconds(file, f.pixFmt);
        std::printf("%-6s %14.0f %14.0f\n", f.name, repeats * kFrames / ours, theirs > 0 ? kFrames / theirs : 0.0);
    }
    return 0;
}

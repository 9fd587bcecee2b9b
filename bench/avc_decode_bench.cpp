// Decoder core speed next to ffmpeg's single-threaded h264 decoder on the same streams.
//
//   avc_decode_bench [-portable] [stream.264 ...] [-repeats N]
//
// Without streams, x264 makes five from ffmpeg's testsrc2 in the current folder, 100
// pictures each: 720x576 Baseline intra-only (every picture an IDR, CRF 20), CAVLC Main
// P streams (no B pictures, 3 references, CRF 20) at 720x576 and 1280x720, and x264's
// default Main streams (CABAC, B pictures, 3 references) at the same two sizes. Prints
// frames per second of the core and of `ffmpeg -threads 1 -f null` on the same bytes (both
// without copying the pictures out), runs interleaved, best of N (5), and the processor
// time per frame of each (all threads: the core's deblocking worker counts). With
// -portable the core uses its portable kernels only.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "filters/decoder/core/kernel_table.h"
#include "tools/avc_decode.h"

namespace {

struct Seconds {
    double wall = -1, cpu = -1;  // cpu: user + system time of every thread
};

// ffmpeg's own figures from -benchmark ("utime=... stime=... rtime=..."), which leave out
// its start-up.
Seconds FfmpegSeconds(const std::string& stream) {
    const std::string cmd = "ffmpeg -hide_banner -nostdin -threads 1 -benchmark -i '" + stream +
                            "' -f null - 2>&1 | grep -o 'utime=.*rtime=[0-9.]*' | tail -1";
    std::FILE* p = popen(cmd.c_str(), "r");
    Seconds s;
    if (p == nullptr) return s;
    double user = 0, system = 0, real = 0;
    if (std::fscanf(p, "utime=%lfs stime=%lfs rtime=%lf", &user, &system, &real) == 3) {
        s.wall = real;
        s.cpu = user + system;
    }
    pclose(p);
    return s;
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + 1e-6 * (u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Makes a 100-picture stream of testsrc2 at `size` with the given x264 options; false
// when ffmpeg or x264 fails.
bool MakeStream(const std::string& name, const std::string& size, const std::string& options) {
    const std::string make = "ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i testsrc2=size=" + size +
                             ":rate=25 -frames:v 100 -pix_fmt yuv420p -f rawvideo avc_decode_bench.yuv && "
                             "x264 --quiet --no-progress " +
                             options + " --crf 20 --input-res " + size + " --fps 25 -o " + name +
                             " avc_decode_bench.yuv 2>/dev/null && rm -f avc_decode_bench.yuv";
    return std::system(make.c_str()) == 0;
}

bool Measure(const std::string& stream, int repeats) {
    std::ifstream in(stream, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        std::fprintf(stderr, "avc_decode_bench: cannot read %s\n", stream.c_str());
        return false;
    }
    // Interleaved, best of each: both see the same machine load.
    Seconds best{1e30, 1e30}, ffmpegBest{1e30, 1e30};
    int frames = 0, damaged = 0;
    for (int i = 0; i < repeats; ++i) {
        const double cpu0 = ProcessCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        const tools::DecodeSummary s = tools::DecodeByteStream(
            bytes, 0, [](const tools::DecodedFrame&) {}, false);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best.cpu = std::min(best.cpu, ProcessCpuSeconds() - cpu0);
        best.wall = std::min(best.wall, seconds);
        frames = s.frames;
        damaged = s.damagedFrames;
        const Seconds f = FfmpegSeconds(stream);
        if (f.wall > 0) {
            ffmpegBest.wall = std::min(ffmpegBest.wall, f.wall);
            ffmpegBest.cpu = std::min(ffmpegBest.cpu, f.cpu);
        }
    }
    std::printf("stream %s: %d frames (%d damaged)\n", stream.c_str(), frames, damaged);
    std::printf("  decoder core: %.1f frames/s, %.3f ms processor time a frame (best of %d)\n", frames / best.wall,
                1e3 * best.cpu / frames, repeats);
    if (ffmpegBest.wall < 1e30)
        std::printf("  ffmpeg -threads 1: %.1f frames/s, %.3f ms processor time a frame (best of %d)\n",
                    frames / ffmpegBest.wall, 1e3 * ffmpegBest.cpu / frames, repeats);
    else
        std::printf("  ffmpeg -threads 1: not measured\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> streams;
    int repeats = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-portable") == 0) {
            avcdec::ReselectDecoderKernels(0);
        } else if (std::strcmp(argv[i], "-repeats") == 0 && i + 1 < argc) {
            repeats = std::atoi(argv[++i]);
        } else {
            streams.push_back(argv[i]);
        }
    }
    if (repeats < 1) repeats = 1;
    if (streams.empty()) {
        struct Made {
            const char* name;
            const char* size;
            const char* options;
        };
        const Made made[] = {
            {"avc_decode_bench_720x576_intra.264", "720x576", "--profile baseline --keyint 1"},
            {"avc_decode_bench_720x576_p.264", "720x576", "--profile main --no-cabac --bframes 0 --ref 3"},
            {"avc_decode_bench_1280x720_p.264", "1280x720", "--profile main --no-cabac --bframes 0 --ref 3"},
            {"avc_decode_bench_720x576_main.264", "720x576", "--profile main --ref 3"},
            {"avc_decode_bench_1280x720_main.264", "1280x720", "--profile main --ref 3"},
        };
        for (const Made& m : made) {
            if (!MakeStream(m.name, m.size, m.options)) {
                std::fprintf(stderr, "avc_decode_bench: making %s failed (ffmpeg and x264 needed)\n", m.name);
                return 1;
            }
            streams.push_back(m.name);
        }
    }
    std::printf("kernels: %s\n", avcdec::DecoderKernels().featureWord != 0 ? "processor's" : "portable");
    // The machine's load beside the figures: both decoders share it, but a loaded machine
    // spreads the runs.
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
        double one = 0, five = 0;
        if (std::fscanf(load, "%lf %lf", &one, &five) == 2) std::printf("load average: %.2f %.2f\n", one, five);
        std::fclose(load);
    }
    for (const std::string& s : streams)
        if (!Measure(s, repeats)) return 1;
    return 0;
}

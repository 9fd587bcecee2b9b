// Decoder core speed next to ffmpeg's h264 decoder on the same streams.
//
//   avc_decode_bench [-portable] [stream.264 ...] [-repeats N]
//
// Without streams, x264 makes seven from ffmpeg's testsrc2 in the current folder, 100
// pictures each: 720x576 intra-only streams (every picture an IDR, CRF 20) in Baseline
// (CAVLC) and Main (CABAC), CAVLC Main P streams (no B pictures, 3 references, CRF 20) at
// 720x576 and 1280x720, x264's default Main streams (CABAC, B pyramids, 3 references) at
// the same two sizes, and a 1920x1080 Main stream at 15 Mbit/s. Every stream is decoded by
// the core on one thread (deblocking on the decoding thread) next to `ffmpeg -threads 1`,
// and by the core with its deblocking worker next to `ffmpeg -threads 2`, all without
// copying the pictures out, the four runs alternating, N times (5). Prints frames per
// second (wall time) and processor milliseconds a frame (every thread's user and system
// time) of each, minimum and median over the runs, and the core's ratios to ffmpeg. Run
// it under `taskset -c K` for one-core figures. With -portable the core uses its portable
// kernels only.
#include <sched.h>
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
Seconds FfmpegSeconds(const std::string& stream, int threads) {
    const std::string cmd = "ffmpeg -hide_banner -nostdin -threads " + std::to_string(threads) + " -benchmark -i '" +
                            stream + "' -f null - 2>&1 | grep -o 'utime=.*rtime=[0-9.]*' | tail -1";
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

// Makes a 100-picture stream of testsrc2 at `size` with the given x264 options (rate
// control included); false when ffmpeg or x264 fails.
bool MakeStream(const std::string& name, const std::string& size, const std::string& options) {
    const std::string make = "ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i testsrc2=size=" + size +
                             ":rate=25 -frames:v 100 -pix_fmt yuv420p -f rawvideo avc_decode_bench.yuv && "
                             "x264 --quiet --no-progress " +
                             options + " --input-res " + size + " --fps 25 -o " + name +
                             " avc_decode_bench.yuv 2>/dev/null && rm -f avc_decode_bench.yuv";
    return std::system(make.c_str()) == 0;
}

// The runs of one decoder at one thread count.
struct Runs {
    std::vector<double> wall, cpu;
    void Add(const Seconds& s) {
        if (s.wall <= 0) return;
        wall.push_back(s.wall);
        cpu.push_back(s.cpu);
    }
};

double Minimum(std::vector<double> v) {
    return *std::min_element(v.begin(), v.end());
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 != 0 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

Seconds CoreSeconds(const std::vector<uint8_t>& bytes, int threads, int* frames, int* damaged) {
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    const tools::DecodeSummary s = tools::DecodeByteStream(
        bytes, 0, [](const tools::DecodedFrame&) {}, false, threads);
    Seconds r;
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.cpu = ProcessCpuSeconds() - cpu0;
    *frames = s.frames;
    *damaged = s.damagedFrames;
    return r;
}

// One line: frames/s from the fastest and the median wall time, processor ms a frame
// likewise.
void PrintRuns(const char* name, const Runs& r, int frames) {
    if (r.wall.empty()) {
        std::printf("  %-22s not measured\n", name);
        return;
    }
    std::printf("  %-22s %7.1f / %7.1f frames/s   %6.3f / %6.3f ms processor a frame\n", name, frames / Minimum(r.wall),
                frames / Median(r.wall), 1e3 * Minimum(r.cpu) / frames, 1e3 * Median(r.cpu) / frames);
}

// The core's speed over ffmpeg's (frames/s ratio, above 1 is faster) and ffmpeg's processor
// time over the core's, from the medians.
void PrintRatios(const char* name, const Runs& core, const Runs& ffmpeg) {
    if (core.wall.empty() || ffmpeg.wall.empty()) return;
    std::printf("  %-22s wall %.2fx, processor %.2fx (medians; minimums %.2fx, %.2fx)\n", name,
                Median(ffmpeg.wall) / Median(core.wall), Median(ffmpeg.cpu) / Median(core.cpu),
                Minimum(ffmpeg.wall) / Minimum(core.wall), Minimum(ffmpeg.cpu) / Minimum(core.cpu));
}

bool Measure(const std::string& stream, int repeats) {
    std::ifstream in(stream, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        std::fprintf(stderr, "avc_decode_bench: cannot read %s\n", stream.c_str());
        return false;
    }
    // Alternating: every decoder sees the same spread of machine load.
    Runs core1, core2, ffmpeg1, ffmpeg2;
    int frames = 0, damaged = 0;
    for (int i = 0; i < repeats; ++i) {
        core1.Add(CoreSeconds(bytes, 1, &frames, &damaged));
        ffmpeg1.Add(FfmpegSeconds(stream, 1));
        core2.Add(CoreSeconds(bytes, 2, &frames, &damaged));
        ffmpeg2.Add(FfmpegSeconds(stream, 2));
    }
    if (frames == 0) {
        std::fprintf(stderr, "avc_decode_bench: %s yields no picture\n", stream.c_str());
        return false;
    }
    std::printf("stream %s: %d frames (%d damaged), %d runs each; best / median\n", stream.c_str(), frames, damaged,
                repeats);
    PrintRuns("core, 1 thread:", core1, frames);
    PrintRuns("ffmpeg -threads 1:", ffmpeg1, frames);
    PrintRuns("core, 2 threads:", core2, frames);
    PrintRuns("ffmpeg -threads 2:", ffmpeg2, frames);
    PrintRatios("1 thread, core/ffmpeg:", core1, ffmpeg1);
    PrintRatios("2 threads, core/ffmpeg:", core2, ffmpeg2);
    return true;
}

// The machine's load beside the figures: the decoders alternate, so they share it, but a
// loaded machine spreads the runs.
void PrintLoad(const char* when) {
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
        double one = 0, five = 0;
        if (std::fscanf(load, "%lf %lf", &one, &five) == 2)
            std::printf("load average %s: %.2f (1 min) %.2f (5 min)\n", when, one, five);
        std::fclose(load);
    }
}

int UsableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : -1;
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
            {"avc_decode_bench_720x576_intra.264", "720x576", "--profile baseline --keyint 1 --crf 20"},
            {"avc_decode_bench_720x576_intra_cabac.264", "720x576", "--profile main --keyint 1 --crf 20"},
            {"avc_decode_bench_720x576_p.264", "720x576", "--profile main --no-cabac --bframes 0 --ref 3 --crf 20"},
            {"avc_decode_bench_1280x720_p.264", "1280x720", "--profile main --no-cabac --bframes 0 --ref 3 --crf 20"},
            {"avc_decode_bench_720x576_main.264", "720x576", "--profile main --ref 3 --crf 20"},
            {"avc_decode_bench_1280x720_main.264", "1280x720", "--profile main --ref 3 --crf 20"},
            {"avc_decode_bench_1920x1080_15m.264", "1920x1080",
             "--profile main --ref 3 --bitrate 15000 --vbv-maxrate 15000 --vbv-bufsize 15000"},
        };
        for (const Made& m : made) {
            if (!MakeStream(m.name, m.size, m.options)) {
                std::fprintf(stderr, "avc_decode_bench: making %s failed (ffmpeg and x264 needed)\n", m.name);
                return 1;
            }
            streams.push_back(m.name);
        }
    }
    std::printf("kernels: %s; processors this process may use: %d\n",
                avcdec::DecoderKernels().featureWord != 0 ? "processor's" : "portable", UsableProcessors());
    PrintLoad("before");
    for (const std::string& s : streams)
        if (!Measure(s, repeats)) return 1;
    PrintLoad("after");
    return 0;
}

// Multiplexer throughput: 120 s of SD video (MPEG-2, 720x576, 25 frame/s, 5 Mbit/s of
// noisy pictures so that the rate holds) and MPEG audio (192 kbit/s)
// muxed by the core into a program stream and a transport stream, next to ffmpeg's
// stream copy into the same formats on the same elementary streams, as multiples of real
// time (best of three runs each).
//
//   mux_bench [folder]   (the streams are made there once with ffmpeg; default /tmp)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <algorithm>
#include <string>

#include "tools/mux_driver.h"

namespace {

constexpr double kSeconds = 120;

double Time(const std::function<bool()>& run) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!run()) return -1;
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

bool Shell(const std::string& line) {
    return std::system(line.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    const std::string video = dir + "/mux_bench5m.m2v", audio = dir + "/mux_bench.mp2";
    if (!Shell("test -s " + video + " && test -s " + audio) &&
        !Shell("ffmpeg -nostdin -v error -y -t 120 -f lavfi -i testsrc=size=720x576:rate=25 -t 120 -f lavfi -i "
               "sine=frequency=440:sample_rate=48000 -map 0:v -vf noise=alls=12:allf=t -c:v mpeg2video -b:v 5M "
               "-minrate 5M "
               "-maxrate 5M -bufsize 1835k -g 12 -bf 2 -f mpeg2video " +
               video + " -map 1:a -c:a mp2 -b:a 192k -f mp2 " + audio)) {
        std::fprintf(stderr, "mux_bench: ffmpeg could not make the streams\n");
        return 1;
    }
    std::printf("%-28s %10s %14s\n", "run", "seconds", "x real time");
    for (const char* format : {"ps", "ts"}) {
        muxdriver::Options o;
        o.format = format;
        o.inputs = {video, audio};
        o.output = dir + "/mux_bench_out." + format;
        const double ours = Time([&] { return muxdriver::Run(o).ok; });
        const std::string ff = std::string("ffmpeg -nostdin -v error -y -fflags +genpts -f mpegvideo -r 25 -i ") +
                               video + " -i " + audio + " -map 0 -map 1 -c copy -f " +
                               (std::string(format) == "ps" ? "mpeg " : "mpegts ") + dir + "/mux_bench_ff." + format;
        const double theirs = Time([&] { return Shell(ff); });
        std::printf("%-28s %10.3f %14.1f\n", (std::string("core ") + format).c_str(), ours, kSeconds / ours);
        std::printf("%-28s %10.3f %14.1f\n", (std::string("ffmpeg -c copy ") + format).c_str(), theirs,
                    kSeconds / theirs);
    }
    return 0;
}

// The editing core side by side with the anchor tools on the same files:
//   - a 20-second cut of an 8 Mbit/s DVD program stream, against ffmpeg -ss -t -c copy;
//   - a 3-clip join, against ffmpeg's concat demuxer with -c copy (and mpgtx, if found);
//   - the program-stream parser alone over the whole 8 Mbit/s file;
//   - a time search whose target lies after the last GOP, on a 12 s and a 2 min file.
// Each timing is the best of several runs; the join outputs are judged by ffmpeg.
//
//   editor_cut_bench [work folder]   (default: the current folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "editor/core/clip_probe.h"
#include "editor/core/ps_parser.h"
#include "tools/mpeg_join.h"

namespace {

std::string dir;

std::string Path(const std::string& name) {
    return dir + "/" + name;
}

int Shell(const std::string& cmd) {
    return std::system(("cd '" + dir + "' && " + cmd).c_str());
}

double Best(int runs, const std::function<void()>& body) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        body();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

std::string Capture(const std::string& cmd) {
    const std::string out = Path("bench-capture.txt");
    Shell(cmd + " > '" + out + "' 2>&1");
    std::ifstream in(out);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

size_t Lines(const std::string& text) {
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// Largest gap and overlap between consecutive video presentation times (ms), in order.
void VideoGaps(const std::string& file, double* gap, double* overlap) {
    const std::string text =
        Capture("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 '" + file + "'");
    std::vector<double> t;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line != "N/A") t.push_back(std::atof(line.c_str()));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    std::sort(t.begin(), t.end());
    *gap = 0;
    *overlap = 0;
    for (size_t i = 1; i < t.size(); ++i) {
        *gap = std::max(*gap, (t[i] - t[i - 1]) * 1000.0);
        if (t[i] == t[i - 1]) *overlap += 40;
    }
}

void Judge(const char* who, const std::string& file) {
    const size_t errors = Lines(Capture("ffmpeg -nostdin -v error -i '" + file + "' -f null -"));
    double gap = 0, overlap = 0;
    VideoGaps(file, &gap, &overlap);
    const std::string dur = Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file + "'");
    std::printf("  %-22s ffmpeg error lines %4zu, largest video step %6.1f ms, duration %s", who, errors, gap,
                dur.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    dir = argc > 1 ? argv[1] : ".";
    // An 8 Mbit/s DVD program stream: noise keeps the encoder at its rate.
    const std::string src = "src8m.mpg";
    if (!std::ifstream(Path(src)).good() &&
        Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=720x576:rate=25,noise=alls=20:allf=t "
              "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 60 -target pal-dvd -b:v 8M -minrate 8M "
              "-maxrate 8M -bufsize 1835k -bf 2 -c:a mp2 -b:a 224k " +
              src) != 0) {
        std::fprintf(stderr, "cannot make the source with ffmpeg\n");
        return 1;
    }
    std::printf("source: 60 s, 720x576, 8 Mbit/s MPEG-2 + MP2 (%s)\n", Path(src).c_str());

    const int runs = 5;
    const double ours = Best(runs, [&] {
        tools::RunJoin({"--type", "dvd", "-o", Path("cut-ours.mpg"), Path(src), "20", "40"});
    });
    const double ffm = Best(
        runs, [&] { Shell("ffmpeg -nostdin -v error -y -ss 20 -t 20 -i " + src + " -c copy -f dvd cut-ffmpeg.mpg"); });
    std::printf("20 s cut: editing core %.4f s, ffmpeg -ss -t -c copy %.4f s\n", ours, ffm);

    // The parser alone over the whole file, as the cut's reading does.
    std::vector<uint8_t> file;
    {
        std::ifstream in(Path(src), std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<uint8_t> payload(editor::kPayloadBufferSize);
    size_t items = 0;
    const double parse = Best(runs, [&] {
        editor::CMpeg2StreamParser p;
        items = 0;
        for (size_t at = 0; at < file.size(); at += 2048) {
            p.Feed(file.data() + at, std::min<size_t>(2048, file.size() - at));
            p.TakeVideo(0, payload.data(), payload.size());
            editor::ParserItem item;
            while (p.NextItem(&item))
                ++items;
        }
    });
    std::printf("parser: %.1f MB in %.4f s (%.0f MB/s, %zu video items), 20 s share %.4f s\n", file.size() / 1e6, parse,
                file.size() / 1e6 / parse, items, parse / 3.0);

    // A 3-clip join.
    const double join = Best(runs, [&] {
        tools::RunJoin({"--type", "dvd", "-o", Path("join-ours.mpg"), Path(src), "5", "15", Path(src), "30.3", "37.1",
                        Path(src), "44.5", "50"});
    });
    Shell("ffmpeg -nostdin -v error -y -ss 5 -t 10 -i " + src + " -c copy -f dvd p1.mpg && " +
          "ffmpeg -nostdin -v error -y -ss 30.3 -t 6.8 -i " + src + " -c copy -f dvd p2.mpg && " +
          "ffmpeg -nostdin -v error -y -ss 44.5 -t 5.5 -i " + src + " -c copy -f dvd p3.mpg && " +
          "printf \"file p1.mpg\\nfile p2.mpg\\nfile p3.mpg\\n\" > list.txt");
    const double concat =
        Best(runs, [&] { Shell("ffmpeg -nostdin -v error -y -f concat -i list.txt -c copy -f dvd join-ffmpeg.mpg"); });
    std::printf("3-clip join: editing core %.4f s, ffmpeg concat -c copy %.4f s (after three -ss -t cuts)\n", join,
                concat);
    std::printf("judged by ffmpeg (sum of cuts 22.3 s):\n");
    Judge("editing core", Path("join-ours.mpg"));
    Judge("ffmpeg concat", Path("join-ffmpeg.mpg"));
    if (Shell("command -v mpgtx > /dev/null") == 0) {
        const double mp = Best(1, [&] {
            Shell("mpgtx -f -j " + src + " '[00:05-00:15]' " + src + " '[00:30.3-00:37.1]' " + src +
                  " '[00:44.5-00:50]' -o join-mpgtx.mpg > /dev/null 2>&1");
        });
        std::printf("  (mpgtx -j took %.4f s)\n", mp);
        Judge("mpgtx -j", Path("join-mpgtx.mpg"));
    }

    // Time search after the last GOP start: bounded passes, whatever the file length.
    for (int seconds : {12, 120}) {
        const std::string name = "search" + std::to_string(seconds) + ".mpg";
        if (!std::ifstream(Path(name)).good())
            Shell(
                "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i "
                "sine=sample_rate=48000 -t " +
                std::to_string(seconds) + " -target pal-dvd -s 352x288 -b:v 6M -c:a mp2 -b:a 224k " + name);
        int64_t answer = 0, before = 0;
        const int64_t target = int64_t(seconds) * 10000000 - 1000000;
        const double t =
            Best(3, [&] { answer = editor::FindVideoTimeInFile(Path(name), editor::kFileMpeg2, target, 0, false, 0); });
        const double t1 =
            Best(3, [&] { before = editor::FindVideoTimeInFile(Path(name), editor::kFileMpeg2, target, 1, false, 0); });
        std::printf(
            "search %.1f s into a %3d s file: after the last GOP (mode 0) %.4f s, answer %lld; "
            "mode 1 %.4f s, answer %.2f s\n",
            double(target) / 1e7, seconds, t, static_cast<long long>(answer), t1, double(before) / 1e7);
    }
    return 0;
}

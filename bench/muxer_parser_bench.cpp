// The multiplexer's video parsers on their own: the scan that finds access-unit boundaries
// (start codes, H.264 parameter-set and slice headers, MPEG-2 picture headers) over a whole
// elementary stream held in memory, in bytes a second. The streams are 20 s of 720x576 at
// 25 frame/s of noisy pictures (so that the rates hold), made once at start into a temporary
// folder: H.264 by x264 (B-pyramid, CABAC, 4 Mbit/s) and MPEG-2 video by ffmpeg (GOP 12, two
// B pictures, 5 Mbit/s).
//
//   muxer_parser_bench [--benchmark_... flags]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "filters/muxer/core/elementary_parser.h"

namespace {

std::vector<uint8_t> gH264, gMpeg2;

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "muxer_parser_bench: %s\n", what);
        std::exit(1);
    }
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a parser asks of its stream, with nothing announced.
class BenchStream : public muxer::ParserStream {
public:
    muxer::StreamMediaType CurrentMediaType() const override { return media_; }
    void SetCurrentMediaType(const muxer::StreamMediaType& type) override { media_ = type; }
    muxer::PtsSource GetPtsSource() const override { return muxer::PtsSource::TimeStampBased; }
    int32_t InitialTimeShiftMs() const override { return 0; }
    void SetOwnValue(muxer::OwnValue, int64_t) override {}
    void RecomputeTotalBitrate() override {}

private:
    muxer::StreamMediaType media_;
};

// Scans the whole stream as the assembler does, unit boundary after unit boundary.
int64_t ScanAll(muxer::CElementaryParser& parser, const std::vector<uint8_t>& bytes) {
    muxer::ScanCursor cursor{bytes.data(), static_cast<int32_t>(bytes.size())};
    int64_t units = 0;
    for (;;) {
        const muxer::ScanResult found = parser.FindUnit(cursor);
        if (!found.boundary || !found.unitFound) break;
        ++units;
    }
    return units;
}

void Run(benchmark::State& state, muxer::StreamType type, const std::vector<uint8_t>& bytes) {
    int64_t units = 0;
    for (auto _ : state) {
        BenchStream stream;
        const std::unique_ptr<muxer::CElementaryParser> parser = muxer::CreateParser(type, stream);
        parser->Reset();
        units = ScanAll(*parser, bytes);
        benchmark::DoNotOptimize(units);
    }
    // 20 s at 25 frame/s: 500 pictures, each one unit.
    Require(units == 500, "a parser found the wrong number of pictures");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
    state.counters["units"] = static_cast<double>(units);
}

void BM_H264Parser(benchmark::State& state) {
    Run(state, muxer::StreamType::H264Video, gH264);
}
BENCHMARK(BM_H264Parser)->Unit(benchmark::kMillisecond);

void BM_Mpeg2VideoParser(benchmark::State& state) {
    Run(state, muxer::StreamType::Mpeg2Video, gMpeg2);
}
BENCHMARK(BM_Mpeg2VideoParser)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/muxer_parser_bench.XXXXXX";
    Require(mkdtemp(pattern) != nullptr, "no temporary folder");
    const std::string dir = pattern, h264 = dir + "/in.264", m2v = dir + "/in.m2v";
    const std::string source =
        "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=720x576:rate=25:duration=20 "
        "-vf noise=alls=12:allf=t ";
    const bool made =
        std::system((source +
                     "-pix_fmt yuv420p -f yuv4mpegpipe - | x264 --quiet --demuxer y4m --bitrate 4000 --bframes 3 "
                     "--b-pyramid normal -o " +
                     h264 + " - 2>/dev/null")
                        .c_str()) == 0 &&
        std::system((source + "-c:v mpeg2video -b:v 5M -g 12 -bf 2 -f mpeg2video -y " + m2v).c_str()) == 0;
    gH264 = ReadAll(h264);
    gMpeg2 = ReadAll(m2v);
    std::filesystem::remove_all(dir);
    Require(made && !gH264.empty() && !gMpeg2.empty(), "ffmpeg or x264 could not make the streams");
    std::printf("H.264 stream %zu bytes, MPEG-2 video stream %zu bytes\n", gH264.size(), gMpeg2.size());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Runs the fuzz target over streams made by ffmpeg and x264 for every parsed type, then
// over mutations of them and over random bytes. A finding is a sanitizer report.
#include <random>

#include <gtest/gtest.h>

#include "filters/muxer/core/fuzz/muxer_core_fuzz.h"
#include "filters/muxer/core/tests/test_stream.h"
#include "tests/support/media_fixture.h"

using muxertest::BaseName;
using muxertest::ReadAll;

TEST(MuxerCoreFuzz, SeedsMutationsAndRandomBytes) {
    std::string y4m, h264;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 12 -pix_fmt yuv420p -f yuv4mpegpipe {out}", "y4m",
        &y4m));
    ASSERT_TRUE(testsupport::MediaFixture("x264 --quiet --bframes 2 -o {out} " + BaseName(y4m), "264", &h264));
    const struct {
        uint8_t type_index;  // as the target's table: 0 MPEG-2 video ... 6 AAC
        const char* command;
        const char* ext;
    } seeds[] = {
        {0, "ffmpeg -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 12 -c:v mpeg2video -bf 2 -g 6 -f mpeg2video {out}", "m2v"},
        {1, "ffmpeg -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 8 -c:v mpeg1video -f mpeg1video {out}", "m1v"},
        {3, "ffmpeg -f lavfi -i sine=sample_rate=48000:duration=0.2 -c:a mp2 -f mp2 {out}", "mp2"},
        {4, "ffmpeg -f lavfi -i sine=sample_rate=22050:duration=0.3 -c:a libmp3lame -b:a 32k -f mp3 {out}", "mp3"},
        {5, "ffmpeg -f lavfi -i sine=sample_rate=48000:duration=0.2 -c:a ac3 -f ac3 {out}", "ac3"},
        {6, "ffmpeg -f lavfi -i sine=sample_rate=48000:duration=0.2 -c:a aac -f adts {out}", "aac"},
    };
    std::vector<std::vector<uint8_t>> corpus;
    corpus.push_back(muxerfuzz::MakeInput(2, ReadAll(h264)));
    for (const auto& s : seeds) {
        std::string path;
        ASSERT_TRUE(testsupport::MediaFixture(s.command, s.ext, &path));
        corpus.push_back(muxerfuzz::MakeInput(s.type_index, ReadAll(path)));
    }
    for (const auto& entry : corpus) {
        ASSERT_GT(entry.size(), 100u);
        LLVMFuzzerTestOneInput(entry.data(), entry.size());
    }
    constexpr unsigned kSeed = 20261209;
    std::mt19937 rng(kSeed);
    RecordProperty("seed", static_cast<int>(kSeed));
    for (int run = 0; run < 20000; ++run) {
        std::vector<uint8_t> base = corpus[rng() % corpus.size()];
        if (run % 10 == 0) {
            base.resize(rng() % 2048);
            for (auto& b : base) b = static_cast<uint8_t>(rng());
        }
        const std::vector<uint8_t> input = muxerfuzz::Mutate(base, corpus, rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
}

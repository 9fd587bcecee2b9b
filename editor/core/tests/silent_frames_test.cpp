#include "editor/core/silent_frames.h"

#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "common/audio_headers.h"
#include "editor/core/ps_parser.h"
#include "tests/support/shell.h"

namespace {

uint32_t LowFirst(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return uint32_t(a) | uint32_t(b) << 8 | uint32_t(c) << 16 | uint32_t(d) << 24;
}

TEST(SilentFrames, MpegAudioLookupIgnoresOnlyTheFreeBits) {
    struct Case {
        uint8_t b2, b3;
        size_t length;  // 0: none
    } cases[] = {
        {0xB0, 0x0C, 731}, {0xB4, 0x0C, 672}, {0xC4, 0x00, 768},
        {0xC2, 0x0C, 836}, {0xC6, 0x0F, 768},  // 48 kHz 256 kbit/s with padding, private, emphasis: still found
        {0xC4, 0x08, 768},                     // copyright set
        {0xC0, 0x00, 836},                     // 44.1 kHz 256 kbit/s without padding: the padded frame
        {0xA4, 0x00, 0},                       // 48 kHz 192 kbit/s
        {0xC4, 0x40, 0},                       // joint stereo
        {0xC4, 0xC0, 0},                       // single channel
        {0xC8, 0x00, 0},                       // 32 kHz
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.b2) << " " << int(c.b3));
        size_t length = 99;
        const uint8_t* f = editor::FindSilentMpegAudioFrame(LowFirst(0xFF, 0xFD, c.b2, c.b3), &length);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(f != nullptr, c.length != 0);
    }
    size_t length = 99;
    // With CRC (protection bit 0) and Layer I headers nothing matches.
    EXPECT_EQ(editor::FindSilentMpegAudioFrame(LowFirst(0xFF, 0xFC, 0xC4, 0x00), &length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(editor::FindSilentMpegAudioFrame(LowFirst(0xFF, 0xFF, 0xC4, 0x00), &length), nullptr);
}

TEST(SilentFrames, Ac3LookupNeedsSyncAndExactRateCode) {
    struct Case {
        uint8_t fifth;
        size_t length;
    } cases[] = {{28, 1536}, {24, 1024}, {20, 768}, {16, 512}, {29, 0}, {17, 0}, {0x40 | 28, 0}};
    for (const Case& c : cases) {
        size_t length = 99;
        const uint8_t* f = editor::FindSilentAc3Frame(LowFirst(0x0B, 0x77, 0x12, 0x34), c.fifth, &length);
        EXPECT_EQ(length, c.length) << int(c.fifth);
        EXPECT_EQ(f != nullptr, c.length != 0);
    }
    size_t length = 99;
    EXPECT_EQ(editor::FindSilentAc3Frame(LowFirst(0x77, 0x0B, 0, 0), 28, &length), nullptr);
    EXPECT_EQ(length, 0u);
}

TEST(SilentFrames, StoredFramesCarryTheirListedHeaders) {
    for (const auto& f : editor::kSilentAc3Frames) {
        common::Ac3FrameHeader a;
        ASSERT_TRUE(common::ReadAc3Header({f.data, f.length}, &a));
        EXPECT_EQ(size_t(a.frameBytes), f.length);
        EXPECT_EQ(a.sampleRate, 48000);
        EXPECT_EQ(f.data[5] >> 3, 4);  // bsid
        EXPECT_EQ(f.data[5] & 7, 0);   // bsmod
        EXPECT_EQ(f.data[6] >> 5, 2);  // acmod: two channels
    }
    for (const auto& f : editor::kSilentMpegAudioFrames) {
        common::MpegAudioFrameHeader h;
        ASSERT_TRUE(common::ReadMpegAudioHeader({f.data, f.length}, &h));
        EXPECT_EQ(size_t(h.frameBytes), f.length);
        EXPECT_EQ(h.layer, 2);
    }
}

// Each frame, repeated, decodes with ffmpeg (CRCs checked) to digital silence.
TEST(SilentFrames, DecodeToSilenceWithFfmpeg) {
    struct Set {
        const editor::SilentFrame* frames;
        const char* ext;
    } sets[] = {{editor::kSilentAc3Frames, "ac3"}, {editor::kSilentMpegAudioFrames, "mp2"}};
    for (const Set& set : sets) {
        for (int i = 0; i < 4; ++i) {
            const editor::SilentFrame& f = set.frames[i];
            const std::string name = testsupport::UniqueName("silent") + "." + set.ext;
            {
                std::ofstream out(testsupport::FixturePath(name), std::ios::binary);
                for (int k = 0; k < 4; ++k)
                    out.write(reinterpret_cast<const char*>(f.data), std::streamsize(f.length));
            }
            const std::string log = name + ".log";
            ASSERT_EQ(
                testsupport::RunShell("ffmpeg -nostdin -hide_banner -err_detect crccheck+explode -i '" + name +
                                          "' -af volumedetect -f null - 2>&1 | grep -E 'max_volume|n_samples|rror'",
                                      log),
                0);
            const std::string text = testsupport::ReadFixtureFile(log);
            SCOPED_TRACE(text);
            EXPECT_EQ(text.find("rror"), std::string::npos);
            const size_t at = text.find("max_volume: ");
            ASSERT_NE(at, std::string::npos);
            EXPECT_LE(std::atof(text.c_str() + at + 12), -91.0);
            const size_t n = text.find("n_samples: ");
            ASSERT_NE(n, std::string::npos);
            EXPECT_EQ(std::atol(text.c_str() + n + 11), 4 * (set.ext[1] == 'c' ? 1536 : 1152) * 2);
        }
    }
}

}  // namespace

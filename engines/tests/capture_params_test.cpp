// The capture parameter block's bytes as the engine and the batch records read them.
#include "engines/capture_params.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

using engines::CaptureParams;

// Little-endian word at `offset` of the expected bytes.
void PutWord(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutText(std::vector<uint8_t>& bytes, size_t offset, const char* text) {
    memcpy(bytes.data() + offset, text, strlen(text) + 1);
}

TEST(CaptureParams, H264BlockGoldenBytes) {
    CaptureParams params{};
    params.encoderType = engines::kEncoderH264;
    for (uint32_t i = 0; i < 18; ++i)
        params.h264.video[i] = 0x01010000u + i;
    for (uint32_t i = 0; i < 14; ++i)
        params.h264.audio[i] = 0x02020000u + i;
    strcpy(params.captureFileName, "C:\\Capture\\Default");
    strcpy(params.outputPath, "C:\\Capture\\clip.avi");

    std::vector<uint8_t> expected(sizeof params, 0);
    PutWord(expected, 0, 8);
    for (uint32_t i = 0; i < 18; ++i)
        PutWord(expected, 4 + 4 * i, 0x01010000u + i);
    for (uint32_t i = 0; i < 14; ++i)
        PutWord(expected, 76 + 4 * i, 0x02020000u + i);
    PutText(expected, 284, "C:\\Capture\\Default");
    PutText(expected, 1324, "C:\\Capture\\clip.avi");

    std::vector<uint8_t> actual(sizeof params);
    memcpy(actual.data(), &params, sizeof params);
    EXPECT_EQ(actual, expected);
}

TEST(CaptureParams, MpegBlockGoldenBytes) {
    CaptureParams params{};
    params.encoderType = engines::kEncoderDvd;
    params.mpeg.streamSelection = 1;
    params.mpeg.videoValues[0] = 720;
    params.mpeg.videoValues[3] = 3;
    params.mpeg.rateValue = 0x41C80000u;  // 25.0f
    strcpy(params.mpeg.text, "4:3");
    params.mpeg.moreVideoValues[7] = 16;
    params.mpeg.audioValues[2] = 9;
    params.mpeg.samplingRate = 48000;
    params.mpeg.sampleBits = 16;
    params.mpeg.audioBitRate = 224000;
    params.mpeg.moreAudioValues[2] = 10;

    std::vector<uint8_t> expected(sizeof params, 0);
    PutWord(expected, 0, 7);
    PutWord(expected, 4, 1);
    PutWord(expected, 8, 720);
    PutWord(expected, 20, 3);
    PutWord(expected, 24, 0x41C80000u);
    PutText(expected, 28, "4:3");
    PutWord(expected, 92 + 28, 16);
    PutWord(expected, 124 + 8, 9);
    PutWord(expected, 136, 48000);
    PutWord(expected, 140, 16);
    PutWord(expected, 144, 224000);
    PutWord(expected, 156, 10);

    std::vector<uint8_t> actual(sizeof params);
    memcpy(actual.data(), &params, sizeof params);
    EXPECT_EQ(actual, expected);
}

TEST(CaptureParams, TextFieldsHoldAFullFolderAndAName) {
    // A folder of the longest stored length, its separator, "Default" and the NUL.
    EXPECT_GE(engines::kCaptureTextBytes, 1024u + 1 + 7 + 1);
    // The batch area ends where the output path begins: a segment record carries the
    // capture file name but not the page's output path.
    EXPECT_EQ(engines::kBatchAreaOffset + engines::kBatchAreaBytes, offsetof(CaptureParams, outputPath));
}

}  // namespace

#include "app/profiles/profile_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace profiles {
namespace {

// Lower-case hex of `size` bytes at `offset` of an object.
template <typename T>
std::string Hex(const T& object, size_t offset, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    const auto* bytes = reinterpret_cast<const unsigned char*>(&object) + offset;
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 15]);
    }
    return out;
}

TEST(ProfileRecordLayout, HeadAndClassBlocksMatchGoldenBytes) {
    ProfileRecord r;
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.head.className, "DVD");
    std::strcpy(r.head.name, "N");
    r.head.descId = 0x01020304;
    r.head.nameId = 0x05060708;
    r.head.stringId3 = 0x0a0b0c0d;
    r.head.stringId4 = 0x11121314;
    r.head.group = -1;
    r.head.videoFormatClass = 7;
    r.head.streamFlag = 3;
    r.head.fieldOrder = 2;
    r.head.attribute = 0xc3;
    EXPECT_EQ(Hex(r, 0, 4), "44564400");
    EXPECT_EQ(Hex(r, 128, 2), "4e00");
    EXPECT_EQ(Hex(r, 1540, 36),
              "04030201"
              "08070605"
              "0d0c0b0a"
              "14131211"
              "ffffffff"
              "07000000"
              "03000000"
              "02000000"
              "c3000000");

    ASSERT_TRUE(AllocMpegParams(r));
    FindMpegParam(r.block.mpeg, kParamVideoBitRate)->value.i = 8000000;
    FindMpegParam(r.block.mpeg, kParamFrameRate)->value.f = 25.0f;
    r.block.mpeg.streams[0].audio.bitRate = 2048;
    const size_t b = offsetof(ProfileRecord, block);
    // Counts, then entry 0: id 0xC107, size 4, value 8000000.
    EXPECT_EQ(Hex(r, b, 16),
              "11000000"
              "01000000"
              "07c10000"
              "04000000");
    EXPECT_EQ(Hex(r, b + 16, 4), "00127a00");
    // Entry 6 (frame rate, a float) and entry 7 (the 64-byte pattern).
    EXPECT_EQ(Hex(r, b + 8 + 6 * 72, 12),
              "0bc10000"
              "04000000"
              "0000c841");
    EXPECT_EQ(Hex(r, b + 8 + 7 * 72, 8),
              "06c10000"
              "40000000");
    // The audio stream block: type 3, 56 bytes, bit rate at byte 24 of the format.
    EXPECT_EQ(Hex(r, b + 1232, 8),
              "03000000"
              "38000000");
    EXPECT_EQ(Hex(r, b + 1240 + 24, 8), "0008000000000000");

    std::memset(&r.block, 0, sizeof r.block);
    r.block.avi.wave = {85, 2, 22050, 7000, 1, 0, 0, 0};
    // WAVEFORMATEX order: tag, channels, samples per second, bytes per second, align, bits, extra.
    EXPECT_EQ(Hex(r, b + 560, 18),
              "5500"
              "0200"
              "22560000"
              "581b0000"
              "0100"
              "0000"
              "0000");

    std::memset(&r.block, 0, sizeof r.block);
    r.block.h264.width = 720;
    r.block.h264.sbdMode = 1;
    r.block.h264.keepOrgSize = 1;
    EXPECT_EQ(AllocH264Params(r), kProfileOk);
    EXPECT_EQ(Hex(r, b, 4), "d0020000");
    EXPECT_EQ(Hex(r, b + 68, 20),
              "01000000"
              "01000000"
              "01000000"
              "03000000"
              "38000000");
}

TEST(ProfileRecord, CopyByValueIsIndependent) {
    ProfileRecord a{};
    ASSERT_TRUE(AllocMpegParams(a));
    FindMpegParam(a.block.mpeg, kParamWidth)->value.i = 720;
    a.block.mpeg.streams[0].audio.bitRate = 2048;
    ProfileRecord b = a;
    FindMpegParam(b.block.mpeg, kParamWidth)->value.i = 352;
    b.block.mpeg.streams[0].audio.bitRate = 4096;
    EXPECT_EQ(FindMpegParam(a.block.mpeg, kParamWidth)->value.i, 720);
    EXPECT_EQ(a.block.mpeg.streams[0].audio.bitRate, 2048);
    // Freeing one copy leaves the other whole.
    EXPECT_TRUE(FreeMpegParams(b));
    EXPECT_EQ(FindMpegParam(a.block.mpeg, kParamWidth)->value.i, 720);
    EXPECT_EQ(b.block.mpeg.paramCount, 17u);
    EXPECT_EQ(FindMpegParam(b.block.mpeg, kParamWidth), nullptr);
}

TEST(ProfileRecord, AllocKeepsWhatARecordAlreadyHolds) {
    ProfileRecord r{};
    ASSERT_TRUE(AllocMpegParams(r));
    FindMpegParam(r.block.mpeg, kParamHeight)->value.i = 576;
    std::strcpy(r.head.name, "kept");
    ASSERT_TRUE(AllocMpegParams(r));  // a second call neither clears nor re-lays the record
    EXPECT_EQ(FindMpegParam(r.block.mpeg, kParamHeight)->value.i, 576);
    EXPECT_STREQ(r.head.name, "kept");

    // An AVI record that refers to a compressor state is not cleared.
    ProfileRecord avi{};
    unsigned char state[300] = {};
    avi.head.videoFormatClass = kClassAvi;
    avi.block.avi.compressorState = state;
    avi.block.avi.compressorStateSize = sizeof state;
    EXPECT_FALSE(AllocMpegParams(avi));
    EXPECT_EQ(avi.block.avi.compressorState, state);

    ProfileRecord h{};
    h.head.videoFormatClass = kClassH264;
    h.block.h264.gopLength = 30;
    EXPECT_EQ(AllocH264Params(h), kProfileOk);
    h.block.h264.streams[0].audio.bitRate = 2048;
    EXPECT_EQ(AllocH264Params(h), kProfileOk);
    EXPECT_EQ(h.block.h264.streams[0].audio.bitRate, 2048);
    EXPECT_EQ(h.block.h264.gopLength, 30);
    EXPECT_EQ(FreeProfileParams(h), kProfileOk);
    EXPECT_EQ(h.block.h264.streams[0].type, 0u);
    ProfileRecord other{};
    other.head.videoFormatClass = kClassDv;
    EXPECT_EQ(FreeProfileParams(other), kProfileFail);
}

TEST(ProfileRecord, AudioBitRateCodeTable) {
    const int64_t rates[30] = {32000,  40000,  48000,  56000,   64000,   80000,   96000,   112000,  128000,  160000,
                               192000, 224000, 256000, 288000,  320000,  384000,  416000,  448000,  512000,  576000,
                               640000, 768000, 960000, 1152000, 1536000, 1920000, 2304000, 3072000, 3840000, 4608000};
    for (int k = 0; k < 30; ++k) {
        int64_t bps = 0, code = 0;
        ASSERT_TRUE(AudioBitRateFromCode(int64_t{1} << k, &bps)) << k;
        EXPECT_EQ(bps, rates[k]);
        ASSERT_TRUE(AudioCodeFromBitRate(rates[k], &code));
        EXPECT_EQ(code, int64_t{1} << k);
    }
    int64_t out = -7;
    for (int64_t code : {int64_t{0}, int64_t{3}, int64_t{2048 + 1}, int64_t{1} << 30, int64_t{-1}}) {
        EXPECT_FALSE(AudioBitRateFromCode(code, &out)) << code;
    }
    EXPECT_FALSE(AudioCodeFromBitRate(225000, &out));
    EXPECT_EQ(out, -7);
}

TEST(ProfileRecord, FieldOrderCodeAndMpegClasses) {
    EXPECT_EQ(FieldOrderCode(0), 0);
    EXPECT_EQ(FieldOrderCode(1), 6);
    EXPECT_EQ(FieldOrderCode(2), 7);
    for (int32_t c = -1; c <= 14; ++c)
        EXPECT_EQ(IsMpegFormatClass(c), c >= 3 && c <= 7) << c;
}

TEST(ProfileRecord, CompressorStateIsTouchedOnlyWhenLargeEnough) {
    std::vector<unsigned char> state(276, 0);
    const uint32_t values[4] = {720, 576, 800000, 9};
    std::memcpy(&state[268], &values[0], 4);
    std::memcpy(&state[272], &values[1], 4);
    std::memcpy(&state[12], &values[2], 4);
    std::memcpy(&state[264], &values[3], 4);
    uint32_t out[4] = {1, 1, 1, 1};
    ASSERT_EQ(GetCompressorFrameInfo(state.data(), 276, out), kProfileOk);
    EXPECT_EQ(std::vector<uint32_t>(out, out + 4), std::vector<uint32_t>(values, values + 4));
    EXPECT_EQ(SetCompressorFrameValue(state.data(), 276, 77), kProfileOk);
    uint32_t v;
    std::memcpy(&v, &state[264], 4);
    EXPECT_EQ(v, 77u);

    // Too small for the offsets: nothing is read or written (ASan checks the reads).
    std::vector<unsigned char> small(275, 0xAB);
    EXPECT_EQ(GetCompressorFrameInfo(small.data(), 275, out), kProfileFail);
    EXPECT_EQ(out[0], 0u);
    std::vector<unsigned char> tiny(267, 0xAB);
    EXPECT_EQ(SetCompressorFrameValue(tiny.data(), 267, 1), kProfileFail);
    EXPECT_EQ(std::vector<unsigned char>(267, 0xAB), tiny);
    EXPECT_EQ(GetCompressorFrameInfo(nullptr, 0, out), kProfileFail);
}

}  // namespace
}  // namespace profiles

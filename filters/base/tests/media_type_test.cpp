// Media types: ownership of the format block, comparison, the format helpers and their
// bounds on short or lying format blocks.
#include "filters/base/media_type.h"

#include <uuids.h>

#include <cstddef>
#include <cstring>

#include <gtest/gtest.h>

namespace {

TEST(MediaType, CopiesOwnTheirFormatAndCompareByContent) {
    CMediaType a;
    VideoTypeParams params{&MEDIASUBTYPE_YUY2, 32, 16, 400000};
    ASSERT_EQ(BuildVideoType(params, &a), S_OK);
    CMediaType b(a);
    ASSERT_NE(a.pbFormat, b.pbFormat) << "a copy owns its own block";
    EXPECT_TRUE(a == b);
    b.pbFormat[0] ^= 1;
    EXPECT_FALSE(a == b) << "format bytes take part in the comparison";
    b = a;
    EXPECT_TRUE(a == b);
    b = b;  // self-assignment keeps the block
    EXPECT_TRUE(a == b);

    AM_MEDIA_TYPE* heap = CreateMediaType(&a);
    ASSERT_NE(heap, nullptr);
    EXPECT_TRUE(CMediaType(*heap) == a);
    DeleteMediaType(heap);
    DeleteMediaType(nullptr);
}

TEST(MediaType, FormatBufferOperations) {
    CMediaType type(&MEDIATYPE_Video);
    const BYTE bytes[4] = {1, 2, 3, 4};
    ASSERT_TRUE(type.SetFormat(bytes, 4));
    BYTE* grown = type.ReallocFormatBuffer(8);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(type.FormatLength(), 8u);
    EXPECT_EQ(std::memcmp(grown, bytes, 4), 0) << "reallocation keeps the first bytes";
    EXPECT_EQ(grown[7], 0);
    type.ResetFormatBuffer();
    EXPECT_EQ(type.Format(), nullptr);
    EXPECT_EQ(type.FormatLength(), 0u);
    type.formattype = FORMAT_VideoInfo;
    EXPECT_FALSE(type.IsValid()) << "a named format without a block";
}

TEST(MediaType, PartialMatching) {
    CMediaType full;
    ASSERT_EQ(BuildVideoType({&MEDIASUBTYPE_RGB32, 8, 8, 0}, &full), S_OK);
    CMediaType partial(&MEDIATYPE_Video);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_TRUE(full.MatchesPartial(&partial));
    partial.subtype = MEDIASUBTYPE_RGB24;
    EXPECT_FALSE(full.MatchesPartial(&partial));
    partial.subtype = GUID_NULL;
    partial.majortype = MEDIATYPE_Audio;
    EXPECT_FALSE(full.MatchesPartial(&partial));
    EXPECT_FALSE(full.IsPartiallySpecified());
}

struct SizeCase {
    const GUID* subtype;
    LONG width, height;
    DWORD bitCount;
    DWORD image;
};

TEST(MediaType, VideoTypesOfEveryFormat) {
    const SizeCase cases[] = {
        {&MEDIASUBTYPE_YV12, 64, 48, 12, 64 * 48 * 3 / 2},
        {&kMediaSubtypeI420, 64, 48, 12, 64 * 48 * 3 / 2},
        {&MEDIASUBTYPE_IYUV, 64, 48, 12, 64 * 48 * 3 / 2},
        {&MEDIASUBTYPE_YUY2, 64, 48, 16, 64 * 48 * 2},
        {&MEDIASUBTYPE_YVYU, 64, 48, 16, 64 * 48 * 2},
        {&MEDIASUBTYPE_UYVY, 64, 48, 16, 64 * 48 * 2},
        {&MEDIASUBTYPE_RGB32, 64, 48, 32, 64 * 48 * 4},
        // DIB rows are padded to 4 bytes: 5 pixels of 3 bytes take 16.
        {&MEDIASUBTYPE_RGB24, 5, 3, 24, 16 * 3},
    };
    for (const SizeCase& c : cases) {
        for (bool vih2 : {false, true}) {
            SCOPED_TRACE(testing::Message() << "bit count " << c.bitCount << " vih2 " << vih2);
            CMediaType type;
            VideoTypeParams params{c.subtype, c.width, c.height, 333667, vih2};
            ASSERT_EQ(BuildVideoType(params, &type), S_OK);
            EXPECT_EQ(type.majortype, MEDIATYPE_Video);
            EXPECT_EQ(type.subtype, *c.subtype);
            EXPECT_EQ(type.formattype, vih2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo);
            EXPECT_EQ(type.lSampleSize, c.image);
            const BITMAPINFOHEADER* bmi = GetBitmapHeader(type);
            ASSERT_NE(bmi, nullptr);
            EXPECT_EQ(bmi->biWidth, c.width);
            EXPECT_EQ(bmi->biHeight, c.height);
            EXPECT_EQ(bmi->biBitCount, c.bitCount);
            EXPECT_EQ(bmi->biSizeImage, c.image);
            EXPECT_EQ(GetAvgTimePerFrame(type), 333667);
        }
    }
    CMediaType type;
    EXPECT_EQ(BuildVideoType({&MEDIASUBTYPE_MJPG, 8, 8, 0}, &type), E_INVALIDARG);
    EXPECT_EQ(BuildVideoType({&MEDIASUBTYPE_YUY2, 0, 8, 0}, &type), E_INVALIDARG);
}

TEST(MediaType, ShortFormatBlocksGiveNoHeader) {
    CMediaType type;
    ASSERT_EQ(BuildVideoType({&MEDIASUBTYPE_YUY2, 8, 8, 0, true}, &type), S_OK);
    type.cbFormat = sizeof(VIDEOINFOHEADER2) - 1;  // claims less than the header needs
    EXPECT_EQ(GetBitmapHeader(type), nullptr);
    EXPECT_EQ(GetAvgTimePerFrame(type), 0);
    type.cbFormat = sizeof(VIDEOINFOHEADER2);
    type.formattype = FORMAT_WaveFormatEx;
    EXPECT_EQ(GetBitmapHeader(type), nullptr);
}

TEST(MediaType, Mpeg2VideoSequenceHeader) {
    MPEG2VIDEOINFO info{};
    info.hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.hdr.bmiHeader.biWidth = 720;
    info.hdr.bmiHeader.biHeight = 576;
    info.hdr.AvgTimePerFrame = 400000;
    const BYTE header[] = {0, 0, 0, 1, 0x67, 0x4d, 0, 0, 0, 1, 0x68};
    CMediaType type;
    ASSERT_EQ(BuildMpeg2VideoType(MEDIASUBTYPE_MPEG2_VIDEO, info, header, sizeof header, &type), S_OK);
    EXPECT_EQ(type.cbFormat, offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + sizeof header);
    DWORD length = 0;
    const BYTE* got = GetMpeg2SequenceHeader(type, &length);
    ASSERT_NE(got, nullptr);
    ASSERT_EQ(length, sizeof header);
    EXPECT_EQ(std::memcmp(got, header, sizeof header), 0);
    EXPECT_EQ(GetBitmapHeader(type)->biWidth, 720);
    EXPECT_EQ(GetAvgTimePerFrame(type), 400000);

    // A stated length beyond the block is not believed.
    reinterpret_cast<MPEG2VIDEOINFO*>(type.pbFormat)->cbSequenceHeader = sizeof header + 1;
    EXPECT_EQ(GetMpeg2SequenceHeader(type, &length), nullptr);
    EXPECT_EQ(length, 0u);

    CMediaType empty;
    ASSERT_EQ(BuildMpeg2VideoType(MEDIASUBTYPE_MPEG2_VIDEO, info, nullptr, 0, &empty), S_OK);
    EXPECT_EQ(empty.cbFormat, sizeof(MPEG2VIDEOINFO));
    EXPECT_EQ(GetMpeg2SequenceHeader(empty, &length), nullptr);
}

TEST(MediaType, WaveFormatWithExtraBytes) {
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = 2;
    wave.nSamplesPerSec = 48000;
    wave.wBitsPerSample = 16;
    wave.nBlockAlign = 4;
    wave.nAvgBytesPerSec = 192000;
    wave.cbSize = 2;
    const BYTE extra[2] = {0xAB, 0xCD};
    CMediaType type;
    ASSERT_EQ(BuildAudioType(MEDIASUBTYPE_PCM, wave, extra, &type), S_OK);
    const WAVEFORMATEX* got = GetWaveFormat(type);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->nSamplesPerSec, 48000u);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(got + 1)[1], 0xCD);
    type.cbFormat = sizeof(WAVEFORMATEX) + 1;  // the extra bytes do not fit
    EXPECT_EQ(GetWaveFormat(type), nullptr);
}

}  // namespace

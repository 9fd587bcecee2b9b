// Shared pieces of the encoder filter's tests: source pictures of every input format made
// from one ffmpeg clip, and the encoder core's own output for the same pictures and
// settings, which the filter's byte stream must equal.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "filters/base/media_type.h"
#include "filters/base/tests/named_lock.h"
#include "filters/base/tests/test_filters.h"
#include "filters/encoder/core/ombriskoder.h"
#include "filters/encoder/encoder_settings.h"
#include "filters/encoder/input_convert.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace ombrisktest {

// A machine-wide mutex held for a scope (bounded wait). Tests that touch the encoder's
// settings key hold kSettingsKeyLock, so that parallel test processes do not change the
// stored settings under each other; tests that use the multiplexer hold its registration
// lock, under which its own tests register and remove it.
inline constexpr wchar_t kSettingsKeyLock[] = L"CaptureSuite.ombrisk.settings";
inline constexpr wchar_t kVarrowRegistrationLock[] = L"CaptureSuite.varrow.registration";
using comtest::NamedLock;

// yuv420p pictures of testsrc2 at w x h (scaled, since the source makes even sizes only).
inline std::vector<uint8_t> ClipYuv(int w, int h, int frames) {
    std::string yuv;
    const std::string size = std::to_string(w + (w & 1)) + "x" + std::to_string(h + (h & 1));
    EXPECT_TRUE(testsupport::MediaFixture(
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=25 -frames:v " + std::to_string(frames) +
            " -vf scale=" + std::to_string(w) + ":" + std::to_string(h) + " -pix_fmt yuv420p -f rawvideo {out}",
        "yuv", &yuv));
    return testsupport::ReadFileBytes(yuv);
}

// Runs `script` in the fixture folder and returns what it printed on standard output
// and error together.
inline std::string ShellOutput(const std::string& script) {
    const std::string log = testsupport::UniqueName("shell") + ".log";
    testsupport::RunShell(script, log);
    return testsupport::ReadFixtureFile(log);
}

struct FormatCase {
    const GUID* subtype;
    ombrisk::InputFormat format;
    int width, height;
    bool videoInfo2 = false;
    bool topDown = false;  // RGB rows top-down (negative biHeight)
};

// One picture of a yuv420p clip (w x h, chroma ceil(w/2) x ceil(h/2)) as the bytes of the
// source format: planar planes reordered, packed 4:2:2 with each chroma row on both rows
// of its pair, RGB from BT.601 (any RGB serves: the reference converts the same bytes),
// rows padded to the DIB stride.
inline std::vector<uint8_t> SourcePicture(const uint8_t* yuv, const FormatCase& c) {
    using ombrisk::InputFormat;
    const int w = c.width, h = c.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    const uint8_t* Y = yuv;
    const uint8_t* U = yuv + size_t(w) * h;
    const uint8_t* V = U + size_t(cw) * ch;
    const ombrisk::InputLayout layout{c.format, w, h, c.topDown};
    const int64_t stride = ombrisk::InputRowStride(layout);
    std::vector<uint8_t> s;
    switch (c.format) {
        case InputFormat::yv12:
            s.assign(Y, Y + size_t(w) * h);
            s.insert(s.end(), V, V + size_t(cw) * ch);
            s.insert(s.end(), U, U + size_t(cw) * ch);
            return s;
        case InputFormat::i420:
        case InputFormat::iyuv:
            return std::vector<uint8_t>(yuv, yuv + size_t(w) * h + 2 * size_t(cw) * ch);
        case InputFormat::yuy2:
        case InputFormat::yvyu:
        case InputFormat::uyvy:
            s.assign(size_t(stride) * h, 0x80);
            for (int y = 0; y < h; ++y)
                for (int m = 0; m < cw; ++m) {
                    uint8_t* p = s.data() + size_t(y) * stride + 4 * m;
                    const uint8_t y0 = Y[size_t(y) * w + 2 * m];
                    const uint8_t y1 = 2 * m + 1 < w ? Y[size_t(y) * w + 2 * m + 1] : y0;
                    const uint8_t u = U[size_t(y / 2) * cw + m], v = V[size_t(y / 2) * cw + m];
                    const uint8_t order[3][4] = {{y0, u, y1, v}, {y0, v, y1, u}, {u, y0, v, y1}};
                    const int k = c.format == InputFormat::yuy2 ? 0 : c.format == InputFormat::yvyu ? 1 : 2;
                    std::copy(order[k], order[k] + 4, p);
                }
            return s;
        default: {
            const int bytes = c.format == InputFormat::rgb32 ? 4 : 3;
            s.assign(size_t(stride) * h, 0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const double l = 1.164383 * (Y[size_t(y) * w + x] - 16);
                    const double cu = U[size_t(y / 2) * cw + x / 2] - 128.0, cv = V[size_t(y / 2) * cw + x / 2] - 128.0;
                    auto q = [](double v) { return uint8_t(std::clamp(v + 0.5, 0.0, 255.0)); };
                    uint8_t* p = s.data() + size_t(c.topDown ? y : h - 1 - y) * stride + size_t(x) * bytes;
                    p[0] = q(l + 2.017232 * cu);
                    p[1] = q(l - 0.391762 * cu - 0.812968 * cv);
                    p[2] = q(l + 1.596027 * cv);
                }
            return s;
        }
    }
}

// `count` samples of a case from a yuv420p clip (its pictures repeated in turn), each
// lasting `duration` from 0 on, the first a discontinuity.
inline std::vector<testfilters::SampleSpec> SourceSamples(const FormatCase& c, const std::vector<uint8_t>& yuv,
                                                          int count, REFERENCE_TIME duration) {
    const size_t bytes = size_t(c.width) * c.height + 2 * size_t((c.width + 1) / 2) * size_t((c.height + 1) / 2);
    const size_t clipPictures = yuv.size() / bytes;
    std::vector<testfilters::SampleSpec> samples;
    for (int i = 0; i < count && clipPictures > 0; ++i) {
        testfilters::SampleSpec s;
        s.bytes = SourcePicture(yuv.data() + bytes * (size_t(i) % clipPictures), c);
        s.start = i * duration;
        s.stop = s.start + duration;
        s.discontinuity = i == 0;
        samples.push_back(std::move(s));
    }
    return samples;
}

// The input type of a case: an uncompressed video type with the case's header kind,
// orientation and a sample size of one picture.
inline CMediaType SourceType(const FormatCase& c, REFERENCE_TIME frame) {
    CMediaType type;
    VideoTypeParams params{c.subtype, c.width, c.height, frame, c.videoInfo2};
    BuildVideoType(params, &type);
    const ombrisk::InputLayout layout{c.format, c.width, c.height, c.topDown};
    type.SetSampleSize(ULONG(ombrisk::InputPictureBytes(layout)));
    if (c.topDown) {
        auto* bmi = const_cast<BITMAPINFOHEADER*>(GetBitmapHeader(type));
        bmi->biHeight = -c.height;
    }
    return type;
}

// The encoder core's byte stream for the same pictures (each converted as the filter
// does) and parameter words, coded on the test's side.
inline std::vector<uint8_t> CoreStream(const std::vector<std::vector<uint8_t>>& pictures, const FormatCase& c,
                                       const int32_t (&words)[ombrisk::kParamWords], int aspectX, int aspectY) {
    using namespace ombrisk;
    const PlanarSize size = CodedPictureSize(c.width, c.height);
    const int processors = int(std::max(1u, std::thread::hardware_concurrency()));
    EncoderBlock block;
    std::vector<uint8_t> out;
    if (StorePictureRecord(&block, size.width, size.height, aspectX, aspectY, processors) != 0) return out;
    if (StoreParameterRecord(&block, words, processors) != 0) return out;
    COmbriskoder encoder(&block);
    if (!encoder.valid()) return out;
    const InputLayout layout{c.format, c.width, c.height, c.topDown};
    std::vector<uint8_t> planar(size.bytes());
    auto drain = [&] {
        while (encoder.encodeFrame(nullptr) == kS_OK) {
            const uint8_t* data = nullptr;
            size_t length = 0;
            while (encoder.GetCodedChunk(&data, &length, nullptr))
                out.insert(out.end(), data, data + length);
        }
    };
    for (const auto& p : pictures) {
        if (!ConvertInput(layout, p.data(), p.size(), planar.data())) return {};
        InputPicture input;
        input.base = planar.data();
        if (encoder.PushFrame(input) != kS_OK) return {};
        drain();
    }
    encoder.Flush();
    drain();
    return out;
}

}  // namespace ombrisktest

// Shared pieces of the decoder filter's tests: H.264 fixtures cut into access units,
// input media types (byte stream and 'AVC1'), ffmpeg's decode as the reference, and the
// expected output bytes of each pixel format built from it.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "filters/base/media_type.h"
#include "filters/base/tests/test_filters.h"
#include "filters/decoder/pelldrin_ids.h"

namespace pelldrintest {

// Tests that touch the decoder's registry key hold this mutex, so that parallel test
// processes do not change the settings under each other.
class SettingsKeyLock {
public:
    SettingsKeyLock() : mutex_(CreateMutexW(nullptr, FALSE, L"CaptureSuite.pelldrin.settings")) {
        WaitForSingleObject(mutex_, 300000);
    }
    ~SettingsKeyLock() {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    SettingsKeyLock(const SettingsKeyLock&) = delete;
    SettingsKeyLock& operator=(const SettingsKeyLock&) = delete;

private:
    HANDLE mutex_;
};

struct Nal {
    size_t begin, end;  // payload (header byte first) within the stream
    int type;
};

// The NAL units of a byte stream (clause B.2): each payload without its start code and
// without trailing zero bytes.
inline std::vector<Nal> SplitNalUnits(const std::vector<uint8_t>& s) {
    std::vector<Nal> out;
    size_t i = 0, start = SIZE_MAX;
    while (i + 3 <= s.size()) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            if (start != SIZE_MAX) {
                size_t end = i;
                while (end > start && s[end - 1] == 0)
                    --end;
                out.push_back({start, end, s[start] & 0x1F});
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != SIZE_MAX && start < s.size()) out.push_back({start, s.size(), s[start] & 0x1F});
    return out;
}

// Access units (clause 7.4.1.2.3): a new one starts at an AUD, SPS, PPS or SEI after a
// slice, or at a slice whose first_mb_in_slice is 0 after a slice.
inline std::vector<std::vector<Nal>> SplitAccessUnits(const std::vector<uint8_t>& s) {
    std::vector<std::vector<Nal>> units;
    bool afterSlice = false;
    for (const Nal& n : SplitNalUnits(s)) {
        const bool slice = n.type == 1 || n.type == 5;
        const bool starts =
            units.empty() || (afterSlice && (n.type == 6 || n.type == 7 || n.type == 8 || n.type == 9 ||
                                             (slice && n.end - n.begin > 1 && (s[n.begin + 1] & 0x80))));
        if (starts) units.emplace_back();
        units.back().push_back(n);
        afterSlice = slice;
    }
    return units;
}

// One sample per access unit, start codes kept, each a sync point at frame i's time.
inline std::vector<testfilters::SampleSpec> ByteStreamSamples(const std::vector<uint8_t>& s, REFERENCE_TIME frame) {
    std::vector<testfilters::SampleSpec> samples;
    for (const auto& unit : SplitAccessUnits(s)) {
        testfilters::SampleSpec spec;
        for (const Nal& n : unit) {
            spec.bytes.insert(spec.bytes.end(), {0, 0, 0, 1});
            spec.bytes.insert(spec.bytes.end(), s.begin() + n.begin, s.begin() + n.end);
        }
        spec.start = static_cast<REFERENCE_TIME>(samples.size()) * frame;
        spec.stop = spec.start + frame;
        samples.push_back(std::move(spec));
    }
    if (!samples.empty()) samples[0].discontinuity = true;
    return samples;
}

// 'AVC1' samples: each NAL unit behind a big-endian length of `lengthSize` bytes; the
// parameter sets go into `header` (2-byte lengths) instead of the samples.
inline std::vector<testfilters::SampleSpec> LengthPrefixedSamples(const std::vector<uint8_t>& s, REFERENCE_TIME frame,
                                                                  int lengthSize, std::vector<uint8_t>* header) {
    std::vector<testfilters::SampleSpec> samples;
    header->clear();
    for (const auto& unit : SplitAccessUnits(s)) {
        testfilters::SampleSpec spec;
        for (const Nal& n : unit) {
            const size_t len = n.end - n.begin;
            if (n.type == 7 || n.type == 8) {
                header->push_back(static_cast<uint8_t>(len >> 8));
                header->push_back(static_cast<uint8_t>(len));
                header->insert(header->end(), s.begin() + n.begin, s.begin() + n.end);
                continue;
            }
            for (int b = lengthSize - 1; b >= 0; --b)
                spec.bytes.push_back(static_cast<uint8_t>(len >> (8 * b)));
            spec.bytes.insert(spec.bytes.end(), s.begin() + n.begin, s.begin() + n.end);
        }
        if (spec.bytes.empty()) continue;
        spec.start = static_cast<REFERENCE_TIME>(samples.size()) * frame;
        spec.stop = spec.start + frame;
        samples.push_back(std::move(spec));
    }
    return samples;
}

inline CMediaType ByteStreamType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME frame) {
    CMediaType type(&MEDIATYPE_Video);
    type.SetSubtype(&subtype);
    type.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = frame;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biCompression = MAKEFOURCC('H', '2', '6', '4');
    type.SetVariableSize();
    type.SetTemporalCompression(true);
    return type;
}

inline CMediaType Avc1Type(LONG width, LONG height, REFERENCE_TIME frame, int lengthSize,
                           const std::vector<uint8_t>& header) {
    MPEG2VIDEOINFO info{};
    info.hdr.AvgTimePerFrame = frame;
    info.hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.hdr.bmiHeader.biWidth = width;
    info.hdr.bmiHeader.biHeight = height;
    info.hdr.dwPictAspectRatioX = static_cast<DWORD>(width);
    info.hdr.dwPictAspectRatioY = static_cast<DWORD>(height);
    info.dwFlags = static_cast<DWORD>(lengthSize);
    CMediaType type;
    BuildMpeg2VideoType(kMediaSubtypeAvc1, info, header.data(), static_cast<DWORD>(header.size()), &type);
    return type;
}

// Expected output bytes of one yuv420p picture (w x h) in each format the tests ask for;
// RGB from BT.601 studio range, rounded (the converter is judged within 1 of it).
enum class Out { yv12, i420, yuy2, rgb24, rgb32 };

inline std::vector<uint8_t> Expected(Out out, const uint8_t* yuv, int w, int h) {
    const uint8_t* Y = yuv;
    const uint8_t* U = yuv + w * h;
    const uint8_t* V = U + w * h / 4;
    std::vector<uint8_t> e;
    switch (out) {
        case Out::i420:
            return std::vector<uint8_t>(yuv, yuv + w * h * 3 / 2);
        case Out::yv12:
            e.assign(Y, Y + w * h);
            e.insert(e.end(), V, V + w * h / 4);
            e.insert(e.end(), U, U + w * h / 4);
            return e;
        case Out::yuy2:
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; x += 2) {
                    const int c = (y / 2) * (w / 2) + x / 2;
                    e.insert(e.end(), {Y[y * w + x], U[c], Y[y * w + x + 1], V[c]});
                }
            return e;
        case Out::rgb24:
        case Out::rgb32: {
            const int bytes = out == Out::rgb24 ? 3 : 4;
            const int stride = (w * bytes + 3) & ~3;
            e.assign(static_cast<size_t>(stride) * h, 0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int c = (y / 2) * (w / 2) + x / 2;
                    const double l = 1.164383 * (Y[y * w + x] - 16), cu = U[c] - 128.0, cv = V[c] - 128.0;
                    auto q = [](double v) { return static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); };
                    uint8_t* p = e.data() + static_cast<size_t>(h - 1 - y) * stride + x * bytes;  // bottom-up
                    p[0] = q(l + 2.017232 * cu);
                    p[1] = q(l - 0.391762 * cu - 0.812968 * cv);
                    p[2] = q(l + 1.596027 * cv);
                }
            return e;
        }
    }
    return e;
}

inline int Tolerance(Out out) {
    return out == Out::rgb24 || out == Out::rgb32 ? 1 : 0;
}

// The largest difference between two byte strings of equal length (256 when the lengths differ).
inline int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

}  // namespace pelldrintest

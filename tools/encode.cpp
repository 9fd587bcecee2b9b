#include "tools/encode.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/ombriskoder.h"
#include "filters/encoder/core/rate_control.h"
#include "tools/y4m_input.h"

namespace ombrisk_tools {
namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

char TypeLetter(int32_t sliceType) {
    return sliceType == ombrisk::kSliceI ? 'I' : sliceType == ombrisk::kSliceP ? 'P' : 'B';
}

// The quality word whose I-picture QP is nearest `qp` (the coarser on a tie).
int32_t QualityForQp(int qp) {
    int32_t best = 0;
    for (int32_t q = 1; q <= 15; ++q)
        if (std::abs(ombrisk::QpsOfQuality(q).i - qp) < std::abs(ombrisk::QpsOfQuality(best).i - qp)) best = q;
    return best;
}

// Plane of w x h samples into one of pw x ph (pw >= w, ph >= h), repeating the last
// column and row.
void PadPlane(const uint8_t* src, int w, int h, uint8_t* dst, int pw, int ph) {
    for (int y = 0; y < ph; ++y) {
        const uint8_t* s = src + size_t(std::min(y, h - 1)) * size_t(w);
        uint8_t* d = dst + size_t(y) * size_t(pw);
        std::memcpy(d, s, size_t(w));
        std::memset(d + w, s[w - 1], size_t(pw - w));
    }
}

// Bytes from the current position to the end of the file; -1 when it cannot be told (a
// pipe).
int64_t BytesLeft(FILE* f) {
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(f);
    if (std::fseek(f, here, SEEK_SET) != 0 || end < here) return -1;
    return int64_t(end) - here;
}

std::string ResultInWords(int r) {
    switch (r) {
        case ombrisk::kCoreBadSize:
            return "a picture size outside what it codes";
        case ombrisk::kCoreUnsupported:
            return "a setting it does not code";
        case ombrisk::kCoreBadArgument:
            return "a value out of range";
        case ombrisk::kCoreNoSpace:
            return "a buffer too small";
        case ombrisk::kCoreNotInitialised:
            return "settings not stored";
        default:
            return "result " + std::to_string(r);
    }
}

std::string Range(const char* setting, int value, int lo, int hi) {
    if (value >= lo && value <= hi) return {};
    return std::string(setting) + " " + std::to_string(value) + " is outside " + std::to_string(lo) + " .. " +
           std::to_string(hi);
}

}  // namespace

std::string RefuseSettings(const EncodeOptions& o, int width, int height, int fps100) {
    using namespace ombrisk;
    if (width <= 0 || height <= 0) return "the picture size is not known (give -s WxH for raw input, or a y4m file)";
    if (width < 16 || height < 16)
        return "the picture size " + std::to_string(width) + "x" + std::to_string(height) +
               " is below 16x16, the smallest the encoder codes";
    const int evenW = (width + 1) & ~1, evenH = (height + 1) & ~1;
    if (!WithinLargestLevel(evenW, evenH, false)) {
        const int level = LargestLevel(false);
        return "the picture size " + std::to_string(width) + "x" + std::to_string(height) + " is beyond level " +
               std::to_string(level / 10) + "." + std::to_string(level % 10) +
               ", the largest the encoder codes (36864 macroblocks, at most " + std::to_string(kMaxPictureDimension) +
               " samples a side)";
    }
    for (const std::string& r :
         {Range("the frame rate x 100", fps100, 1, 100000), Range("the constant QP", o.qp, 0, 51),
          Range("the GOP length", o.gop, 0, 100000), Range("the number of B pictures", o.bFrames, 0, 16),
          Range("the number of slices", o.slices, 1, 1024), Range("the effort", o.level, 0, 2),
          Range("the scene detection", o.sceneDetect, 0, 3), Range("the number of threads", o.threads, 0, 256)})
        if (!r.empty()) return r;
    // max_num_ref_frames is at most 16, and B pictures keep one of them for the anchor.
    if (o.bFrames > 0 && (o.refs < 1 || o.refs > 15))
        return "the number of references " + std::to_string(o.refs) + " is outside 1 .. 15 (with B pictures)";
    if (const std::string r = Range("the number of references", o.refs, 1, 16); !r.empty()) return r;
    if (o.rateMode >= 2 && o.bitRate <= 0) return "a bit-rate mode needs a bit rate above 0";
    if (o.maxBitRate < 0 || o.bitRate < 0) return "a bit rate below 0";
    if (o.maxBitRate > 0 && o.maxBitRate < o.bitRate)
        return "the VBR maximum " + std::to_string(o.maxBitRate / 1000) + " kbit/s is below the bit rate " +
               std::to_string(o.bitRate / 1000) + " kbit/s";
    if (o.profile != 66 && o.profile != 77 && o.profile != 88)
        return "the profile " + std::to_string(o.profile) + " is none of 66 (Baseline), 77 (Main) and 88 (Extended)";
    if (o.cabac && o.profile != 77)
        return std::string("CABAC is a Main profile tool: ") + (o.profile == 66 ? "Baseline" : "Extended") +
               " (profile " + std::to_string(o.profile) + ") cannot carry it";
    if (o.profile == 66 && o.bFrames > 0)
        return "B pictures are not in the Baseline profile (66): ask for 0 B pictures or another profile";
    return {};
}

int ParseEncodeArguments(int argc, const char* const* argv, EncodeOptions* options, std::string* error) {
    EncodeOptions& o = *options;
    int positional = 0;
    bool bFramesGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] != '-' || !a[1] || a[2]) {
            if (positional == 0) o.input = a;
            if (positional == 1) o.output = a;
            if (positional == 2) o.reconstruction = a;
            ++positional;
            continue;
        }
        const char letter = a[1];
        if (letter == 'v' || letter == 'c' || letter == 'T' || letter == 'a') {
            if (letter == 'v') o.progress = true;
            if (letter == 'c') o.rateMode = 3;
            if (letter == 'T') o.frameStamps = true;
            if (letter == 'a') o.cabac = true;
            continue;
        }
        if (!std::strchr("sfrqbMgnRSedpxmt", letter)) return *error = std::string("unknown option ") + a, -1;
        if (i + 1 >= argc) return *error = std::string(a) + " needs a value", -1;
        const char* v = argv[++i];
        if (letter == 's') {
            if (std::sscanf(v, "%dx%d", &o.width, &o.height) != 2)
                return *error = "-s takes WxH, not \"" + std::string(v) + "\"", -1;
            continue;
        }
        char* end = nullptr;
        if (letter == 'r') {
            const double fps = std::strtod(v, &end);
            if (end == v || *end || !(fps > 0 && fps <= 1000))
                return *error = "the frame rate -r " + std::string(v) + " is not in 0 .. 1000", -1;
            o.fps100 = int(fps * 100 + 0.5);
            continue;
        }
        const long parsed = std::strtol(v, &end, 10);
        if (end == v || *end || parsed < -1000000000 || parsed > 1000000000)
            return *error = std::string(a) + " takes a whole number, not \"" + v + "\"", -1;
        const int n = int(parsed);
        // Bit rates are given in kbit/s and kept in bit/s, in an int.
        if ((letter == 'b' || letter == 'M') && (n < 0 || n > 2000000))
            return *error = std::string(a) + " takes kbit/s in 0 .. 2000000, not " + v, -1;
        if ((letter == 'd' || letter == 'm') && n != 0 && n != 1)
            return *error = std::string(a) + (letter == 'd' ? " (deblocking)" : " (motion search)") +
                            " takes 0 (off) or 1 (on), not " + v,
                   -1;
        switch (letter) {
            case 'f':
                o.frames = n;
                break;
            case 'q':
                o.qp = n;
                break;
            case 'b':
                o.bitRate = n * 1000;
                if (o.rateMode == 0) o.rateMode = 2;
                break;
            case 'M':
                o.maxBitRate = n * 1000;
                break;
            case 'g':
                o.gop = n;
                break;
            case 'n':
                o.bFrames = n;
                bFramesGiven = true;
                break;
            case 'R':
                o.refs = n;
                break;
            case 'S':
                o.slices = n;
                break;
            case 'e':
                o.level = n;
                break;
            case 'd':
                o.deblocking = n != 0;
                break;
            case 'p':
                o.profile = n;
                break;
            case 'x':
                o.sceneDetect = n;
                break;
            case 'm':
                o.motionSearch = n != 0;
                break;
            default:
                o.threads = n;
                break;
        }
    }
    // Baseline has no B pictures: its default is none; asking for some is refused.
    if (o.profile == 66 && !bFramesGiven) o.bFrames = 0;
    return positional;
}

int RunEncode(const EncodeOptions& o, EncodeReport* report, std::string* error) {
    using namespace ombrisk;
    const auto start = std::chrono::steady_clock::now();
    *report = EncodeReport{};
    File in(std::fopen(o.input.c_str(), "rb"));
    if (!in) {
        *error = "cannot open " + o.input;
        return 1;
    }
    const bool y4m = o.input.size() > 4 && o.input.compare(o.input.size() - 4, 4, ".y4m") == 0;
    int sourceWidth = o.width, sourceHeight = o.height, fps100 = 2500;
    if (y4m && !ReadY4mHeader(in.get(), &sourceWidth, &sourceHeight, &fps100, error)) return 1;
    if (o.fps100 > 0) fps100 = o.fps100;
    if (const std::string refusal = RefuseSettings(o, sourceWidth, sourceHeight, fps100); !refusal.empty()) {
        *error = refusal;
        return 1;
    }
    // An odd width or height is coded by repeating the last column or row, as the filter
    // does: the stream and the reconstruction have the even size.
    const int width = (sourceWidth + 1) & ~1, height = (sourceHeight + 1) & ~1;
    const size_t sourceChroma = size_t((sourceWidth + 1) / 2) * size_t((sourceHeight + 1) / 2);
    const size_t sourceBytes = size_t(sourceWidth) * size_t(sourceHeight) + 2 * sourceChroma;
    // The first picture must be in the file before anything is allocated for it.
    if (const int64_t left = BytesLeft(in.get()); left >= 0 && int64_t(sourceBytes) > left) {
        *error = "the input holds " + std::to_string(left) + " bytes after its header, less than one picture of " +
                 std::to_string(sourceWidth) + "x" + std::to_string(sourceHeight) + " (" + std::to_string(sourceBytes) +
                 " bytes)";
        return 1;
    }

    EncoderBlock block;
    int32_t params[kParamWords];
    DefaultParameterWords(params);
    params[kParGopLength] = o.gop;
    params[kParBFrames] = o.bFrames;
    params[kParRefFrames] = o.refs;
    params[kParProfile] = o.profile;
    params[kParRateMode] = o.rateMode;
    params[kParQuality] = QualityForQp(o.qp);
    if (o.bitRate > 0) params[kParAvgBitRate] = o.bitRate;
    if (o.maxBitRate > 0) params[kParMaxBitRate] = o.maxBitRate;
    params[kParMotionSearch] = o.motionSearch ? 1 : 0;
    params[kParRangeX] = params[kParRangeY] = o.range;
    params[kParSubpelDepth] = o.subpel;
    params[kParPartitions] = o.partitions;
    params[kParMbCoderLevel] = o.level;
    params[kParCabac] = o.cabac ? 1 : 0;
    params[kParSceneDetect] = o.sceneDetect;
    params[kParFlags] = (o.deblocking ? kFlagDeblocking : 0) | (o.frameStamps ? kFlagFrameStamps : 0);
    params[kParSliceCount] = o.slices;
    params[kParFrameRate100] = fps100;
    uint32_t adjusted = 0;
    if (int r = StoreParameterRecord(&block, params, 1, &adjusted); r != kCoreOk) {
        *error = "the encoder refused the settings (" + ResultInWords(r) + ")";
        return 1;
    }
    if (adjusted != 0) {
        *error = "the profile cannot carry the settings asked for";
        return 1;
    }
    if (int r = StorePictureRecord(&block, width, height, width, height, 1); r != kCoreOk) {
        *error = "the encoder refused the picture size " + std::to_string(width) + "x" + std::to_string(height) + " (" +
                 ResultInWords(r) + ")";
        return 1;
    }
    auto coder = std::make_unique<COmbriskoder>(&block, o.threads);
    if (!coder->valid()) {
        *error = "encoder not ready";
        return 1;
    }
    File out(std::fopen(o.output.c_str(), "wb"));
    File rec(o.reconstruction.empty() ? nullptr : std::fopen(o.reconstruction.c_str(), "wb"));
    if (!out || (!o.reconstruction.empty() && !rec)) {
        *error = "cannot create the output files";
        return 1;
    }
    const size_t lumaBytes = size_t(width) * height, chromaBytes = size_t(width / 2) * (height / 2);
    const size_t frameBytes = lumaBytes + 2 * chromaBytes;
    // The input picture in the facade's layout: luma, Cr, Cb.
    std::vector<uint8_t> frame(frameBytes), planar(sourceBytes);
    // Reconstructions wait here until every earlier picture in display order is written.
    std::map<int64_t, std::vector<uint8_t>> waiting;
    std::map<int64_t, char> types;
    int64_t nextToWrite = 0;
    auto lastProgress = start;

    const auto drain = [&]() -> bool {
        for (;;) {
            const int32_t r = coder->encodeFrame(nullptr);
            if (r == kS_FALSE) return true;
            if (r != kS_OK) {
                *error = "coding failed at picture " + std::to_string(report->pictures);
                return false;
            }
            const uint8_t* data = nullptr;
            size_t length = 0;
            bool first = false;
            while (coder->GetCodedChunk(&data, &length, &first)) {
                if (std::fwrite(data, 1, length, out.get()) != length) return (*error = "write failed"), false;
                report->bytes += int64_t(length);
            }
            const ScheduledPicture* p = coder->lastPicture();
            ++report->pictures;
            report->codingOrder.push_back(p->display);
            types[p->display] = TypeLetter(p->order.sliceType);
            if (rec) {
                const CRefPictureStore* picture = coder->LastReconstruction();
                std::vector<uint8_t>& dst = waiting[p->display];
                dst.resize(frameBytes);
                uint8_t* d = dst.data();
                const uint8_t* planes[3] = {picture->luma(), picture->cb(), picture->cr()};
                const int strides[3] = {picture->lumaStride(), picture->chromaStride(), picture->chromaStride()};
                for (int c = 0; c < 3; ++c) {
                    const int w = c ? width / 2 : width, h = c ? height / 2 : height;
                    for (int y = 0; y < h; ++y, d += w)
                        std::memcpy(d, planes[c] + size_t(y) * strides[c], size_t(w));
                }
                for (auto it = waiting.find(nextToWrite); it != waiting.end(); it = waiting.find(nextToWrite)) {
                    if (std::fwrite(it->second.data(), 1, frameBytes, rec.get()) != frameBytes)
                        return (*error = "write failed"), false;
                    waiting.erase(it);
                    ++nextToWrite;
                }
            }
        }
    };

    std::string truncated;
    for (int64_t n = 0; o.frames == 0 || n < o.frames; ++n) {
        if (y4m) {
            const Y4mFrameHeader h = ReadY4mFrameHeader(in.get());
            if (h == Y4mFrameHeader::kEnd) break;
            if (h == Y4mFrameHeader::kDamaged) {
                truncated = "picture " + std::to_string(n) + " has no FRAME header: the input is damaged there";
                break;
            }
        }
        const size_t got = std::fread(planar.data(), 1, sourceBytes, in.get());
        if (got == 0 && !y4m) break;
        if (got != sourceBytes) {
            truncated = "picture " + std::to_string(n) + " is truncated (" + std::to_string(got) + " of " +
                        std::to_string(sourceBytes) + " bytes)";
            break;
        }
        const int sw = sourceWidth, sh = sourceHeight, scw = (sw + 1) / 2, sch = (sh + 1) / 2;
        const uint8_t* srcCb = planar.data() + size_t(sw) * size_t(sh);
        PadPlane(planar.data(), sw, sh, frame.data(), width, height);
        PadPlane(srcCb + sourceChroma, scw, sch, frame.data() + lumaBytes, width / 2, height / 2);  // Cr
        PadPlane(srcCb, scw, sch, frame.data() + lumaBytes + chromaBytes, width / 2, height / 2);   // Cb
        InputPicture input;
        input.base = frame.data();
        if (coder->PushFrame(input) != kS_OK) {
            *error = "picture " + std::to_string(n) + " refused";
            return 1;
        }
        if (!drain()) return 1;
        const auto now = std::chrono::steady_clock::now();
        if (o.progress && now - lastProgress >= std::chrono::seconds(1)) {
            lastProgress = now;
            const double s = std::chrono::duration<double>(now - start).count();
            std::fprintf(
                stderr, "\r%lld pictures, %.1f fps, %.0f kbit/s", static_cast<long long>(report->pictures),
                double(report->pictures) / s,
                report->pictures ? double(report->bytes) * 8 * fps100 / 100 / double(report->pictures) / 1000 : 0.0);
        }
    }
    if (coder->Flush() != kS_OK) {
        *error = "the encoder could not finish the stream";
        return 1;
    }
    if (!drain()) return 1;
    if (o.progress) std::fprintf(stderr, "\n");
    for (const auto& [display, letter] : types)
        report->types += letter;
    report->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!truncated.empty()) {
        *error = truncated + "; the " + std::to_string(report->pictures) + " whole pictures before it are coded";
        return kEncodeTruncatedInput;
    }
    return 0;
}

}  // namespace ombrisk_tools

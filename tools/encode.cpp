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

}  // namespace

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
    int width = o.width, height = o.height, fps100 = 2500;
    if (y4m && !ReadY4mHeader(in.get(), &width, &height, &fps100, error)) return 1;
    if (o.fps100 > 0) fps100 = o.fps100;

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
    if (int r = StoreParameterRecord(&block, params, 1); r != kCoreOk) {
        *error = "settings refused: " + std::to_string(r);
        return 1;
    }
    if (int r = StorePictureRecord(&block, width, height, width, height, 1); r != kCoreOk) {
        *error = "picture size refused: " + std::to_string(r);
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
    std::vector<uint8_t> frame(frameBytes), planar(frameBytes);
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

    for (int64_t n = 0; o.frames == 0 || n < o.frames; ++n) {
        if (y4m && !SkipY4mFrameHeader(in.get())) break;
        if (std::fread(planar.data(), 1, frameBytes, in.get()) != frameBytes) break;
        std::memcpy(frame.data(), planar.data(), lumaBytes);
        std::memcpy(frame.data() + lumaBytes, planar.data() + lumaBytes + chromaBytes, chromaBytes);  // Cr
        std::memcpy(frame.data() + lumaBytes + chromaBytes, planar.data() + lumaBytes, chromaBytes);  // Cb
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
    if (coder->Flush() != kS_OK || !drain()) return 1;
    if (o.progress) std::fprintf(stderr, "\n");
    for (const auto& [display, letter] : types)
        report->types += letter;
    report->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return 0;
}

}  // namespace ombrisk_tools

#include "tools/avc_decode.h"

#include <algorithm>
#include <cstring>

#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/decoder_result.h"

namespace tools {

namespace {

// Copies the picture cropped by its own rectangle (4:2:0 frames) into out.
void CropPicture(const avcdec::PictureInfo& info, std::vector<uint8_t>* out, int32_t* width, int32_t* height) {
    const int32_t left = info.cropLeft, right = info.cropRight, top = info.cropTop, bottom = info.cropBottom;
    const int32_t w = std::max(info.width - left - right, 2);
    const int32_t h = std::max(info.height - top - bottom, 2);
    *width = w;
    *height = h;
    out->resize(static_cast<size_t>(w) * h * 3 / 2);
    uint8_t* dst = out->data();
    for (int32_t y = 0; y < h; ++y, dst += w)
        std::memcpy(dst, info.y + (top + y) * info.pitch + left, static_cast<size_t>(w));
    for (const uint8_t* plane : {info.u, info.v}) {
        for (int32_t y = 0; y < h / 2; ++y, dst += w / 2)
            std::memcpy(dst, plane + (top / 2 + y) * info.pitch + left / 2, static_cast<size_t>(w / 2));
    }
}

}  // namespace

DecodeSummary DecodeByteStream(const std::vector<uint8_t>& stream, size_t chunkSize,
                               const std::function<void(const DecodedFrame&)>& onFrame, bool copyFrames, int threads) {
    DecodeSummary summary;
    avcdec::AvcDecoderContext* ctx = avcdec::AvcDecoderCreate();
    if (ctx == nullptr) {
        summary.refusal = "out of memory";
        return summary;
    }
    if (avcdec::AvcDecoderSetThreads(ctx, threads) != avcdec::kDecoderOk) {
        avcdec::AvcDecoderDestroy(ctx);
        summary.refusal = "unsupported thread count";
        return summary;
    }
    std::vector<uint8_t> frame;
    auto deliver = [&] {
        avcdec::PictureRecord* pic = ctx->readyPicture;
        ctx->readyPicture = nullptr;
        avcdec::PictureInfo info{};
        if (avcdec::AvcDecoderGetPictureInfo(ctx, pic, &info) == 0) {
            DecodedFrame f{};
            if (copyFrames) {
                CropPicture(info, &frame, &f.width, &f.height);
                f.yuv = &frame;
            } else {
                f.width = info.width;
                f.height = info.height;
            }
            f.decodeIndex = info.decodeIndex;
            f.damage = info.damage;
            ++summary.frames;
            if (f.damage != 0) ++summary.damagedFrames;
            onFrame(f);
        }
        avcdec::AvcDecoderReleasePicture(pic);
    };
    // The core reads pushed bytes in place until it asks for more.
    auto push = [&](const uint8_t* data, size_t length) {
        size_t accepted = 0;
        avcdec::AvcDecoderPushData(ctx, data, avcdec::kNoTimeStamp, length, &accepted);
        for (int guard = 0; guard < 1 << 24; ++guard) {
            const int step = avcdec::AvcDecoderDecodeByteStream(ctx);
            if (step == avcdec::kStepPictureReady) deliver();
            if (step == avcdec::kStepNeedData || step < 0) break;
        }
    };
    const size_t chunk = chunkSize == 0 ? stream.size() : chunkSize;
    for (size_t at = 0; at < stream.size(); at += chunk)
        push(stream.data() + at, std::min(chunk, stream.size() - at));
    // A start code after the last byte ends the last NAL unit (pushed apart rather than
    // appended to a copy of the stream, which would cost the timed runs a copy).
    static constexpr uint8_t kStartCode[] = {0, 0, 1};
    push(kStartCode, sizeof kStartCode);
    avcdec::AvcDecoderEndOfStream(ctx);
    for (int guard = 0; guard < 1 << 16; ++guard) {
        const int step = avcdec::AvcDecoderDecodeByteStream(ctx);
        if (step == avcdec::kStepPictureReady) {
            deliver();
            continue;
        }
        if (step != avcdec::kStepConsumed) break;
        if (!ctx->draining) break;
    }
    if (ctx->refusal != nullptr) summary.refusal = ctx->refusal;
    summary.refusedProfileIdc = ctx->refusedProfileIdc;
    summary.damagedSlices = ctx->damagedSlices;
    avcdec::AvcDecoderDestroy(ctx);
    return summary;
}

std::string NothingDecodedReason(const DecodeSummary& summary) {
    if (summary.refusedProfileIdc != 0) {
        // Table A-1's profiles by profile_idc (Annex A, G, H).
        static constexpr struct {
            int32_t idc;
            const char* name;
        } kProfiles[] = {{44, "CAVLC 4:4:4 Intra"},
                         {83, "Scalable Baseline"},
                         {86, "Scalable High"},
                         {100, "High"},
                         {110, "High 10"},
                         {118, "Multiview High"},
                         {122, "High 4:2:2"},
                         {128, "Stereo High"},
                         {244, "High 4:4:4 Predictive"}};
        std::string name = "profile_idc " + std::to_string(summary.refusedProfileIdc);
        for (const auto& p : kProfiles)
            if (p.idc == summary.refusedProfileIdc) name = std::string(p.name) + " profile (" + name + ")";
        return name + " is not decoded: only Baseline, Main and Extended streams are";
    }
    if (!summary.refusal.empty()) return summary.refusal;
    return "the input holds no slice that could be decoded";
}

}  // namespace tools

#include "tools/avc_decode.h"

#include <algorithm>
#include <cstring>

#include "filters/decoder/core/decoder_context.h"

namespace tools {

namespace {

// Copies the cropped picture (clause 7.4.2.1.1 cropping, 4:2:0 frames) into out.
void CropPicture(const avcdec::AvcDecoderContext* ctx, const avcdec::PictureInfo& info, std::vector<uint8_t>* out,
                 int32_t* width, int32_t* height) {
    const avcdec::SeqParamSet* sps = ctx->activeSps;
    int32_t left = 0, right = 0, top = 0, bottom = 0;
    if (sps != nullptr && sps->frame_cropping_flag) {
        const int32_t unitY = 2 * (2 - sps->frame_mbs_only_flag);
        left = 2 * sps->frame_crop_left_offset;
        right = 2 * sps->frame_crop_right_offset;
        top = unitY * sps->frame_crop_top_offset;
        bottom = unitY * sps->frame_crop_bottom_offset;
    }
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
                               const std::function<void(const DecodedFrame&)>& onFrame, bool copyFrames) {
    DecodeSummary summary;
    avcdec::AvcDecoderContext* ctx = avcdec::AvcDecoderCreate();
    if (ctx == nullptr) {
        summary.refusal = "out of memory";
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
                CropPicture(ctx, info, &frame, &f.width, &f.height);
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
    // A start code after the last byte ends the last NAL unit.
    std::vector<uint8_t> data = stream;
    data.insert(data.end(), {0, 0, 1});
    const size_t chunk = chunkSize == 0 ? data.size() : chunkSize;
    for (size_t at = 0; at < data.size(); at += chunk) {
        size_t accepted = 0;
        avcdec::AvcDecoderPushData(ctx, data.data() + at, avcdec::kNoTimeStamp, std::min(chunk, data.size() - at),
                                   &accepted);
        for (int guard = 0; guard < 1 << 24; ++guard) {
            const int step = avcdec::AvcDecoderDecodeByteStream(ctx);
            if (step == avcdec::kStepPictureReady) deliver();
            if (step == avcdec::kStepNeedData || step < 0) break;
        }
    }
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
    summary.damagedSlices = ctx->damagedSlices;
    avcdec::AvcDecoderDestroy(ctx);
    return summary;
}

}  // namespace tools

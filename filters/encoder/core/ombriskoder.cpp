#include "filters/encoder/core/ombriskoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/kernel_table.h"

namespace ombrisk {

COmbriskoder::COmbriskoder(EncoderBlock* block, int processors)
    : valid_(block && block->initialised() && block->sourceWidth > 0), block_(block) {
    KernelTable();
    if (!valid_) return;
    FillChromaGeometry(block);
    if (block->param(kParAspectIdc) == kAutoAspect) {
        // The automatic aspect ratio is settled once, into the block's SAR words.
        const SampleAspect sar = ResolveSampleAspect(*block);
        block->param(kParSarWidth) = sar.width;
        block->param(kParSarHeight) = sar.height;
    }
    // First: the rate control settles the QP words from the quality word.
    rate_.reset(new (std::nothrow) CRateControl(block));
    headers_.reset(new (std::nothrow) CParameterSetWriter(block));
    if (!headers_) valid_ = false;
    scheduler_.reset(new (std::nothrow) CFrameScheduler(*block));
    encoder_.reset(new (std::nothrow) CPictureEncoder(
        *block, processors > 0 ? processors : int(std::max(1u, std::thread::hardware_concurrency()))));
    // The headers serve whatever the settings; pictures only when the picture encoder
    // codes these settings (CAVLC).
    pictures_ = scheduler_ && encoder_ && encoder_->status() == kCoreOk && rate_ && rate_->status() == kCoreOk;
    // The whole picture's bytes stay in one reserved buffer.
    coded_.reserve(size_t(block->macroblocks.count) * 400 + 4096);
}

COmbriskoder::~COmbriskoder() = default;

int32_t COmbriskoder::PushFrame(const InputPicture& input) {
    if (!valid_ || !pictures_ || !input.base) return kE_FAIL;
    const PictureRecord& r = block_->picture;
    PlanarPicture source;
    source.y = input.base + r.lumaOffset;
    source.cr = input.base + r.secondPlaneOffset;
    source.cb = input.base + r.thirdPlaneOffset;
    source.width = block_->sourceWidth;
    source.height = block_->sourceHeight;
    source.lumaPitch = r.lumaPitch;
    source.chromaPitch = r.chromaPitch;
    const int result = scheduler_->DecideFrameType(source, input.picStruct, input.sideData, input.sideDataBytes);
    return result == kCoreOk ? kS_OK : kE_FAIL;
}

int32_t COmbriskoder::encodeFrame(OutputRecord* output) {
    if (!valid_ || !pictures_) return kE_FAIL;
    ScheduledPicture* picture = scheduler_->NextInCodingOrder();
    if (!picture) return kS_FALSE;
    coded_.clear();
    chunkReady_ = false;
    RatePicture rate;
    rate.sliceType = picture->order.sliceType;
    rate.periodStart = picture->order.idr;
    rate.verdict = picture->verdict;
    rate.picStruct = picture->picStruct;
    picture->order.qp = rate_->StartPicture(rate);
    picture->order.rate = rate_.get();
    const int result =
        encoder_->EncodePicture(picture->View(block_->sourceWidth, block_->sourceHeight), picture->order, &coded_);
    if (result == kCoreOk) rate_->EndPicture(int64_t(coded_.size()) * 8);
    if (result != kCoreOk) {
        // Nothing of the picture was written; it is dropped and the caller told.
        scheduler_->Retire(picture);
        return kE_FAIL;
    }
    scheduler_->Retire(picture);
    last_ = picture;
    chunkReady_ = !coded_.empty();
    if (output) {
        const int32_t n = std::min<int32_t>(int32_t(picture->sideData.size()), std::max(output->sideDataCapacity, 0));
        if (output->sideData && n > 0) std::memcpy(output->sideData, picture->sideData.data(), size_t(n));
        output->sideDataBytes = output->sideData ? n : 0;
        output->picStruct = picture->picStruct;
    }
    return kS_OK;
}

int32_t COmbriskoder::Flush() {
    if (!valid_ || !pictures_) return kE_FAIL;
    scheduler_->EndOfStream();
    return kS_OK;
}

int COmbriskoder::GetCodedChunk(const uint8_t** data, size_t* length, bool* firstSlice) {
    if (data) *data = chunkReady_ ? coded_.data() : nullptr;
    if (length) *length = chunkReady_ ? coded_.size() : 0;
    if (firstSlice) *firstSlice = chunkReady_;
    const int any = chunkReady_ ? 1 : 0;
    chunkReady_ = false;
    return any;
}

const CRefPictureStore* COmbriskoder::LastReconstruction() {
    if (!last_) return nullptr;
    encoder_->DeblockLastPicture();
    return &encoder_->reconstruction();
}

int64_t COmbriskoder::GetSequenceHeader(uint8_t* buffer, size_t capacity) {
    if (!valid_) return -1;
    const int64_t n = headers_->WriteSequenceHeader(buffer, capacity);
    return n < 0 ? -1 : n;
}

void COmbriskoder::GetLevel(int32_t* level) const {
    if (!level) return;
    *level = headers_ ? headers_->level() : kAutoLevel;
}

}  // namespace ombrisk

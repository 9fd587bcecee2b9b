#include "filters/encoder/core/ombriskoder.h"

#include <new>

#include "filters/encoder/core/kernel_table.h"

namespace ombrisk {

COmbriskoder::COmbriskoder(EncoderBlock* block)
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
    headers_.reset(new (std::nothrow) CParameterSetWriter(block));
    if (!headers_) valid_ = false;
}

COmbriskoder::~COmbriskoder() = default;

int32_t COmbriskoder::PushFrame(const InputPicture&) {
    return valid_ ? kE_NOTIMPL : kE_FAIL;
}

int32_t COmbriskoder::encodeFrame(OutputRecord*) {
    return valid_ ? kE_NOTIMPL : kE_FAIL;
}

int32_t COmbriskoder::Flush() {
    return valid_ ? kE_NOTIMPL : kE_FAIL;
}

int COmbriskoder::GetCodedChunk(const uint8_t** data, size_t* length, bool* firstSlice) {
    if (data) *data = nullptr;
    if (length) *length = 0;
    if (firstSlice) *firstSlice = false;
    return 0;
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

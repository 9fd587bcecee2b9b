// Fuzz target over NAL extraction, dispatch and parameter-set / SEI parsing.
// The first input byte picks the input form (byte stream or one NAL unit per push) and
// how the rest is cut into pushes, so that split start codes and time stamps are covered.
#include <cstddef>
#include <cstdint>

#include "filters/decoder/core/decoder_context.h"

namespace {

// Each push is decoded until it is used up; a push can hold at most one NAL unit per
// byte, so the step count is bounded by its length plus the steps that hand out nothing.
void DecodePush(avcdec::AvcDecoderContext* ctx, bool byteStream) {
    for (int guard = 0; guard < (1 << 20); ++guard) {
        const int code = byteStream ? avcdec::AvcDecoderDecodeByteStream(ctx)
                                    : avcdec::AvcDecoderDecodeNalUnit(ctx);
        if (code == avcdec::kStepNeedData || code == avcdec::kStepEndOfStream || code < 0) return;
    }
    __builtin_trap();  // a step loop that never ends is a finding
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    avcdec::AvcDecoderContext* ctx = avcdec::AvcDecoderCreate();
    if (ctx == nullptr) return 0;
    const bool byteStream = (mode & 1) == 0;
    const size_t chunk = (mode >> 1) == 0 ? size : static_cast<size_t>(mode >> 1);
    int64_t stamp = 0;
    for (size_t pos = 0; pos < size;) {
        const size_t n = size - pos < chunk ? size - pos : chunk;
        const int64_t t = (pos / chunk) % 3 == 1 ? avcdec::kNoTimeStamp : stamp++;
        size_t accepted = 0;
        avcdec::AvcDecoderPushData(ctx, data + pos, t, n, &accepted);
        DecodePush(ctx, byteStream);
        pos += n;
    }
    static const uint8_t kFlush[] = {0, 0, 1};
    size_t accepted = 0;
    avcdec::AvcDecoderPushData(ctx, kFlush, avcdec::kNoTimeStamp, sizeof kFlush, &accepted);
    DecodePush(ctx, byteStream);
    avcdec::AvcDecoderDestroy(ctx);
    return 0;
}

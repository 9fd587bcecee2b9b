// Annex B byte-stream and single-NAL-unit extraction, emulation prevention removal and
// time-stamp attribution.
#include "filters/decoder/core/decoder_context.h"

namespace avcdec {

namespace {

constexpr uint32_t kStartCode = 0x000001;
constexpr uint32_t kShiftMask = 0xFFFFFF;

// The input bytes are used up: forget the caller's sample so that no pointer into it
// outlives the step that says so.
int InputUsedUp(NalInputBuffer* in) {
    in->dataStart = nullptr;
    in->dataEnd = nullptr;
    return kStepNeedData;
}

// Fills the NAL unit record from the header byte; false when forbidden_zero_bit is set.
bool ReadNalHeader(NalUnitBuffer* nu, const uint8_t* bytes, size_t length) {
    nu->payload = bytes;
    nu->length = length;
    const uint8_t h = bytes[0];
    nu->forbidden_zero_bit = h >> 7;
    nu->nal_ref_idc = (h >> 5) & 3;
    nu->nal_unit_type = h & 31;
    return nu->forbidden_zero_bit == 0;
}

}  // namespace

size_t RemoveEmulationPrevention(const uint8_t* begin, const uint8_t* end, uint8_t* out) {
    size_t n = 0;
    int zeros = 0;  // consecutive zero bytes just read; none before begin
    for (const uint8_t* p = begin; p < end; ++p) {
        if (zeros >= 2 && *p == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = *p == 0 ? zeros + 1 : 0;
        out[n++] = *p;
    }
    return n;
}

int ExtractByteStreamNalUnit(AvcDecoderContext* ctx) {
    NalInputBuffer* in = ctx->input;
    NalUnitBuffer* nu = ctx->nal;
    if (in->dataStart == nullptr) return InputUsedUp(in);
    const uint8_t* p = in->dataStart;
    const uint8_t* const e = in->dataEnd;

    for (;;) {
        if (nu->skipToStartCode) {
            bool found = false;
            while (p < e) {
                in->shift = ((in->shift << 8) | *p++) & kShiftMask;
                if (in->shift == kStartCode) {
                    found = true;
                    break;
                }
            }
            in->consumedInPush += static_cast<size_t>(p - in->dataStart);
            in->dataStart = p;
            if (!found) return InputUsedUp(in);
            nu->skipToStartCode = 0;
            in->writePos = 0;
            in->restartCopy = false;
        }
        if (in->restartCopy) {
            in->writePos = 0;
            in->restartCopy = false;
        }

        bool found = false;
        while (p < e) {
            const uint8_t b = *p++;
            const uint32_t before = in->shift;
            in->shift = ((in->shift << 8) | b) & kShiftMask;
            if (in->shift == kStartCode) {
                found = true;
                break;
            }
            if ((before & 0xFFFF) == 0 && b == 0x03) continue;  // emulation prevention
            if (in->writePos >= in->areaSize) {
                // Too long for the area: drop this NAL unit alone and resume at the next
                // start code.
                in->consumedInPush += static_cast<size_t>(p - in->dataStart);
                in->dataStart = p;
                in->writePos = 0;
                nu->skipToStartCode = 1;
                return kStepDropped;
            }
            in->area[in->writePos++] = b;
        }
        in->consumedInPush += static_cast<size_t>(p - in->dataStart);
        in->dataStart = p;
        if (!found) return InputUsedUp(in);  // the NAL unit continues in the next push

        // The NAL unit is what was copied before the start code's two zero bytes.
        const size_t length = in->writePos >= 2 ? in->writePos - 2 : 0;
        in->restartCopy = true;
        if (length == 0) continue;  // two start codes in a row
        in->header = in->area[0];

        // Time stamp (100-ns units): the NAL unit began in the current push when at least
        // its length plus a start code and header were consumed from that push.
        if (in->pendingTimes > 0) {
            if (in->consumedInPush >= length + 4) {
                ctx->nalTime = in->currentTime;
                in->pendingTimes = 0;
                ctx->hasTime = true;
            } else if (in->pendingTimes >= 2) {
                ctx->nalTime = in->previousTime;
                in->pendingTimes = 1;
                ctx->hasTime = true;
            }
        }
        if (!ReadNalHeader(nu, in->area, length)) return kStepConsumed;  // damaged, dropped
        return 0;
    }
}

int ExtractSingleNalUnit(AvcDecoderContext* ctx) {
    NalInputBuffer* in = ctx->input;
    NalUnitBuffer* nu = ctx->nal;
    if (in->dataStart == nullptr) return InputUsedUp(in);
    const size_t length = static_cast<size_t>(in->dataEnd - in->dataStart);
    if (length > in->areaSize) return InputUsedUp(in);  // too long: dropped
    const size_t copied = RemoveEmulationPrevention(in->dataStart, in->dataEnd, in->area);
    InputUsedUp(in);
    if (copied == 0) return kStepNeedData;
    in->restartCopy = true;
    if (in->pendingTimes > 0) {
        ctx->nalTime = in->currentTime;
        in->pendingTimes = 0;
        ctx->hasTime = true;
    }
    if (!ReadNalHeader(nu, in->area, copied)) return kStepNeedData;
    return 0;
}

}  // namespace avcdec

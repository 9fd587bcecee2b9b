// Annex B byte-stream and single-NAL-unit extraction, emulation prevention removal and
// time-stamp attribution.
#include "filters/decoder/core/decoder_context.h"

#include <algorithm>

#include "common/bitstream/emulation_prevention.h"
#include "common/bitstream/start_code.h"

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

// Shifts the last (up to three) bytes of [begin, end) into the start-code shift register;
// returns end.
const uint8_t* FoldShift(uint32_t* shift, const uint8_t* begin, const uint8_t* end) {
    for (const uint8_t* q = end - std::min<ptrdiff_t>(3, end - begin); q < end; ++q)
        *shift = ((*shift << 8) | *q) & kShiftMask;
    return end;
}

}  // namespace

size_t RemoveEmulationPrevention(const uint8_t* begin, const uint8_t* end, uint8_t* out) {
    if (begin >= end) return 0;
    const size_t n = static_cast<size_t>(end - begin);
    return common::RemoveEmulationPrevention({begin, n}, {out, n}).written;
}

int ExtractByteStreamNalUnit(AvcDecoderContext* ctx) {
    NalInputBuffer* in = ctx->input;
    NalUnitBuffer* nu = ctx->nal;
    if (in->dataStart == nullptr) return InputUsedUp(in);
    const uint8_t* p = in->dataStart;
    const uint8_t* const e = in->dataEnd;

    for (;;) {
        if (nu->skipToStartCode) {
            // A start code split across pushes shows in the shift register within the first
            // two bytes; after them the scanner finds whole ones.
            bool found = false;
            const uint8_t* const first = p;
            for (const uint8_t* slowEnd = p + std::min<ptrdiff_t>(2, e - p); p < slowEnd && !found;) {
                in->shift = ((in->shift << 8) | *p++) & kShiftMask;
                found = in->shift == kStartCode;
            }
            if (!found) {
                // Start codes that begin in this push, the first two bytes included.
                const uint8_t* sc = common::FindStartCode(first, e);
                if (sc != e) {
                    p = sc + 3;
                    in->shift = kStartCode;
                    found = true;
                } else {
                    p = FoldShift(&in->shift, p, e);
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
        bool tooLong = false;
        while (p < e && !found && !tooLong) {
            if ((in->shift & 0xFF) == 0) {
                // After a zero byte a start code or an emulation prevention byte may span
                // the previous bytes: one byte at a time.
                const uint8_t b = *p++;
                const uint32_t before = in->shift;
                in->shift = ((in->shift << 8) | b) & kShiftMask;
                if (in->shift == kStartCode) {
                    found = true;
                    break;
                }
                if ((before & 0xFFFF) == 0 && b == 0x03) continue;  // emulation prevention
                if (in->writePos >= in->areaSize) {
                    tooLong = true;
                    break;
                }
                in->area[in->writePos++] = b;
                continue;
            }
            // The previous byte is not zero, so no pattern spans it: the scanner finds the
            // next start code and the bytes before it lose their emulation prevention at once.
            const uint8_t* sc = common::FindStartCode(p, e);
            const size_t n = static_cast<size_t>(sc - p);
            const common::EscapeResult copied =
                common::RemoveEmulationPrevention({p, n}, {in->area + in->writePos, in->areaSize - in->writePos});
            in->writePos += copied.written;
            if (!copied.complete) {
                p += copied.read;
                tooLong = true;
                break;
            }
            FoldShift(&in->shift, p, sc);
            p = sc;
            if (sc != e) {
                // The start code: its two zero bytes are copied as the byte loop would, then
                // dropped with it below.
                if (in->areaSize - in->writePos < 2) {
                    tooLong = true;
                    break;
                }
                in->area[in->writePos++] = 0;
                in->area[in->writePos++] = 0;
                p += 3;
                in->shift = kStartCode;
                found = true;
            }
        }
        in->consumedInPush += static_cast<size_t>(p - in->dataStart);
        in->dataStart = p;
        if (tooLong) {
            // Too long for the area: drop this NAL unit alone and resume at the next start
            // code.
            in->writePos = 0;
            nu->skipToStartCode = 1;
            return kStepDropped;
        }
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

#include "common/bitstream/emulation_prevention.h"

#include <cstring>

#include "common/bitstream/start_code.h"

namespace common {

namespace {

// Copies up to `count` bytes; false when the output had less room.
bool CopyRun(const uint8_t* from, size_t count, std::span<uint8_t> out, EscapeResult* r) {
    const size_t room = out.size() - r->written;
    const size_t n = count < room ? count : room;
    if (n > 0) std::memcpy(out.data() + r->written, from, n);
    r->written += n;
    r->read += n;
    return n == count;
}

}  // namespace

EscapeResult RemoveEmulationPrevention(std::span<const uint8_t> payload, std::span<uint8_t> rbsp) {
    EscapeResult r;
    const uint8_t* p = payload.data();
    const uint8_t* const end = p + payload.size();
    while (p < end) {
        const uint8_t* three = FindZeroPairThen(p, end, 3, 3);
        const uint8_t* runEnd = three == end ? end : three + 2;
        if (!CopyRun(p, static_cast<size_t>(runEnd - p), rbsp, &r)) return r;
        p = runEnd;
        if (three != end) {
            ++p;  // the emulation_prevention_three_byte
            ++r.read;
        }
    }
    r.complete = true;
    return r;
}

EscapeResult InsertEmulationPrevention(std::span<const uint8_t> rbsp, std::span<uint8_t> payload) {
    static constexpr uint8_t kThree = 3;
    EscapeResult r;
    const uint8_t* p = rbsp.data();
    const uint8_t* const end = p + rbsp.size();
    while (p < end) {
        const uint8_t* pair = FindZeroPairThen(p, end, 0, 3);
        const uint8_t* runEnd = pair == end ? end : pair + 2;
        if (!CopyRun(p, static_cast<size_t>(runEnd - p), payload, &r)) return r;
        p = runEnd;
        if (pair != end) {
            if (r.written == payload.size()) return r;
            payload[r.written++] = kThree;
        }
    }
    // A payload may not end in a zero pair (the byte stream would take it for padding):
    // cabac_zero_word at the end gets its 03 too.
    if (r.written >= 2 && payload[r.written - 1] == 0 && payload[r.written - 2] == 0) {
        if (r.written == payload.size()) return r;
        payload[r.written++] = kThree;
    }
    r.complete = true;
    return r;
}

}  // namespace common

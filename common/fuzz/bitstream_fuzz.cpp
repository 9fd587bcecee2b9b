// Fuzz target over the common bitstream layer: emulation prevention removal (against a
// byte-by-byte reference, with full and short outputs, and the round trip through
// insertion), and the bit reader's ue(v), se(v) and u(n) on the resulting RBSP (against a
// bit-by-bit reference decoder). Any disagreement or out-of-bounds access traps.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/bitstream/bit_reader.h"
#include "common/bitstream/emulation_prevention.h"
#include "common/bitstream/mpeg2_video_header.h"
#include "common/bitstream/start_code.h"
#include "tests/support/fuzz_driver.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

std::vector<uint8_t> ReferenceRemove(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        out.push_back(data[i]);
        zeros = data[i] == 0 ? zeros + 1 : 0;
    }
    return out;
}

// Bit-by-bit reader of the same RBSP: the reference for BitReader's values and errors.
struct SlowBits {
    const std::vector<uint8_t>& b;
    uint64_t pos = 0;
    bool past = false;
    uint32_t Bit() {
        if (pos >= uint64_t{b.size()} * 8) {
            past = true;
            ++pos;
            return 0;
        }
        const uint32_t v = (b[pos / 8] >> (7 - pos % 8)) & 1u;
        ++pos;
        return v;
    }
    uint32_t Bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | Bit();
        return v;
    }
    // ue(v); false for more than 31 leading zeros (the reader then also consumes 32 bits).
    bool Ue(uint32_t* value) {
        int zeros = 0;
        while (Bit() == 0) {
            if (++zeros == 32) return false;
        }
        *value = static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Bits(zeros));
        return true;
    }
};

void ReadAll(const std::vector<uint8_t>& rbsp, const uint8_t* control, size_t controlSize) {
    common::BitReader r(rbsp.data(), rbsp.size());
    SlowBits slow{rbsp};
    // At most one element per bit, plus a few past the end.
    for (size_t i = 0; i < rbsp.size() * 8 + 4; ++i) {
        const uint8_t c = controlSize ? control[i % controlSize] : static_cast<uint8_t>(i);
        const bool wasOk = r.Ok();
        switch (c % 3) {
            case 0: {
                const int n = c % 33;
                const uint32_t v = r.ReadBits(n);
                const uint32_t w = slow.Bits(n);
                Check(v == w);
                break;
            }
            case 1: {
                uint32_t expect = 0;
                const bool valid = slow.Ue(&expect);
                const uint32_t v = r.ReadUe();
                if (!valid) {
                    Check(r.InvalidCode() && v == 0);
                    slow.pos = r.BitPosition();  // both skip the 32 zeros
                } else {
                    Check(v == expect);  // past the end both read zeros
                }
                break;
            }
            default: {
                uint32_t k = 0;
                const bool valid = slow.Ue(&k);
                const int32_t v = r.ReadSe();
                if (!valid) {
                    slow.pos = r.BitPosition();
                } else {
                    const int64_t expect = (k & 1) ? (int64_t{k} + 1) / 2 : -(int64_t{k} / 2);
                    Check(v == expect);
                }
                break;
            }
        }
        // The error bits are sticky and say past-the-end exactly when the reference went
        // there.
        if (!wasOk) Check(!r.Ok());
        Check(r.PastEnd() == slow.past);
        if (!slow.past) Check(r.BitPosition() == slow.pos);
        if (r.PastEnd()) {
            Check(r.BitsLeft() == 0);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first bytes steer the reads and the short output; the rest is a NAL payload.
    const size_t controlSize = size > 0 ? std::min<size_t>(data[0] % 8, size - 1) : 0;
    const size_t head = size > 0 ? 1 + controlSize : 0;
    const uint8_t* control = size > 0 ? data + 1 : data;
    const std::vector<uint8_t> payload(data + head, data + size);

    // Full output: the byte rule's result.
    std::vector<uint8_t> rbsp(payload.size());
    const common::EscapeResult full = common::RemoveEmulationPrevention(payload, rbsp);
    Check(full.complete && full.read == payload.size() && full.written <= payload.size());
    rbsp.resize(full.written);
    Check(rbsp == ReferenceRemove(payload.data(), payload.size()));

    // Short output (exactly its size, so a store past it is caught): a prefix of the RBSP
    // whose input bytes give exactly it.
    const size_t room = controlSize > 0 ? control[0] % (payload.size() + 1) : payload.size() / 2;
    std::vector<uint8_t> part(room);
    const common::EscapeResult cut = common::RemoveEmulationPrevention(payload, part);
    Check(cut.written <= room && cut.read <= payload.size());
    Check(std::equal(part.begin(), part.begin() + static_cast<ptrdiff_t>(cut.written), rbsp.begin()));
    Check(ReferenceRemove(payload.data(), cut.read) ==
          std::vector<uint8_t>(part.begin(), part.begin() + static_cast<ptrdiff_t>(cut.written)));

    // Round trip: escaping the RBSP and removing again gives it back, with no start code
    // left inside the escaped bytes.
    std::vector<uint8_t> escaped(common::EscapedBound(rbsp.size()));
    const common::EscapeResult ins = common::InsertEmulationPrevention(rbsp, escaped);
    Check(ins.complete && ins.written <= escaped.size());
    escaped.resize(ins.written);
    Check(common::FindZeroPairThen(escaped.data(), escaped.data() + escaped.size(), 0, 2) ==
          escaped.data() + escaped.size());
    Check(ReferenceRemove(escaped.data(), escaped.size()) == rbsp);

    ReadAll(rbsp, control, controlSize);

    // The header readers and the scanner over the raw bytes: bounded, and the results lie
    // inside the input.
    common::MpegSequenceHeader h;
    if (common::ReadMpegVideoSequence(payload, &h)) Check(h.headerBytes <= payload.size());
    const uint8_t* cursor = payload.data();
    const uint8_t* const end = payload.data() + payload.size();
    for (;;) {
        const std::span<const uint8_t> nal = common::NextNalUnit(&cursor, end);
        if (nal.empty()) break;
        Check(nal.data() >= payload.data() && nal.data() + nal.size() <= end && cursor <= end);
    }
    return 0;
}

// The mutator writes start-code prefixes, emulation prevention triplets and long zero runs
// (Exp-Golomb codes of many leading zeros).
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options o;
    o.dictionary = {{0x00, 0x00, 0x03},
                    {0x00, 0x00, 0x01},
                    {0x00, 0x00, 0x00, 0x01},
                    {0x00, 0x00, 0x00, 0x00},
                    {0x00, 0x00, 0x01, 0xB3},
                    {0x00, 0x01},
                    {0x80}};
    o.generate = [](Rng& rng) {
        Bytes b(1 + rng() % 64);
        for (uint8_t& x : b) {
            const uint64_t r = rng() % 8;
            x = r < 4 ? 0 : r < 6 ? static_cast<uint8_t>(r - 3) : static_cast<uint8_t>(rng());
        }
        return b;
    };
    return o;
}

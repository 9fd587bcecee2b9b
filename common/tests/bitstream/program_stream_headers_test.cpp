#include "common/bitstream/program_stream_headers.h"

#include <functional>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace common {
namespace {

// Reference sink: one bool per bit, most significant first; whole bytes only.
struct BitByBitSink {
    std::vector<bool> bits;
    void Bits(int n, uint64_t value) {
        for (int i = n - 1; i >= 0; --i)
            bits.push_back(((value >> i) & 1) != 0);
    }
    std::vector<uint8_t> WholeBytes() const {
        std::vector<uint8_t> out(bits.size() / 8);
        for (size_t i = 0; i < out.size() * 8; ++i)
            out[i / 8] = static_cast<uint8_t>(out[i / 8] | (bits[i] ? 0x80 >> (i % 8) : 0));
        return out;
    }
};

// Fields of 0..32 bits with junk above them, flushed at random points (also mid-byte),
// in runs long enough to pass through the writer's block several times; the bytes land
// after what the vector already held.
TEST(VectorFieldWriterTest, RandomFieldsAndFlushesMatchABitByBitReference) {
    std::mt19937_64 rng(77);
    for (int round = 0; round < 200; ++round) {
        const std::vector<uint8_t> before = {0xAB, 0xCD, 0xEF};
        std::vector<uint8_t> out = before;
        BitByBitSink ref;
        {
            VectorFieldWriter w(out);
            const int fields = int(rng() % 120);
            for (int i = 0; i < fields; ++i) {
                const int n = int(rng() % 33);
                const uint64_t value = rng();
                w.Bits(n, value);
                ref.Bits(n, n == 0 ? 0 : value & ((uint64_t{1} << n) - 1));
                if (rng() % 16 == 0) {
                    w.Flush();
                    ASSERT_EQ(out.size(), before.size() + ref.bits.size() / 8) << "round " << round;
                }
            }
            // Zeros to the byte boundary: the destructor hands on the rest.
            const int pad = int((8 - ref.bits.size() % 8) % 8);
            w.Bits(pad, 0);
            ref.Bits(pad, 0);
        }
        std::vector<uint8_t> expected = before;
        const std::vector<uint8_t> body = ref.WholeBytes();
        expected.insert(expected.end(), body.begin(), body.end());
        ASSERT_EQ(out, expected) << "round " << round;
    }
}

// Every header through the vector writer, each ending on its own at a byte boundary, is
// the same bytes as through the bit-by-bit sink, headers longer than the block included.
TEST(VectorFieldWriterTest, HeadersMatchTheBitByBitSink) {
    std::vector<StdBufferBound> many;
    for (int i = 0; i < 40; ++i)
        many.push_back({uint8_t(0xC0 + i % 32), uint8_t(i & 1), uint16_t(0x1FFF - i)});
    SystemHeaderFields sys;
    sys.rateBound = 0x3FFFFF;
    sys.audioBound = 40;
    sys.fixed = sys.systemVideoLock = sys.packetRateRestriction = true;
    sys.videoBound = 3;
    sys.streams = many;
    PesHeaderFields full;
    full.streamId = 0xE0;
    full.packetLength = 0xFFFF;
    full.dataAlignment = full.original = true;
    full.pts = (int64_t{1} << 33) - 1;
    full.dts = 0x123456789;
    full.pstdBuffer = true;
    full.pstdScale = 1;
    full.pstdSize = 0x1ABC;
    full.stuffing = 200;
    PesHeaderFields bare;
    bare.streamId = 0xC0;
    bare.packetLength = 2028;
    bare.dts = 5;  // no PTS: no time stamps at all

    struct Case {
        const char* name;
        std::function<void(VectorFieldWriter&)> vector;
        std::function<void(BitByBitSink&)> reference;
        size_t bytes;
    };
    const Case cases[] = {
        {"pack header", [](auto& w) { WritePackHeader(w, 0x1FFFFFFFF, 299 + 300, 25200); },
         [](auto& w) { WritePackHeader(w, 0x1FFFFFFFF, 299 + 300, 25200); }, 14},
        {"MPEG-1 pack header", [](auto& w) { WriteMpeg1PackHeader(w, 0x155555555, 3528); },
         [](auto& w) { WriteMpeg1PackHeader(w, 0x155555555, 3528); }, 12},
        {"system header, 40 streams", [&](auto& w) { WriteSystemHeader(w, sys); },
         [&](auto& w) { WriteSystemHeader(w, sys); }, 12 + 3 * 40},
        {"PES header, every field", [&](auto& w) { WritePesHeader(w, full); },
         [&](auto& w) { WritePesHeader(w, full); }, 9 + 5 + 5 + 3 + 200},
        {"PES header, bare", [&](auto& w) { WritePesHeader(w, bare); }, [&](auto& w) { WritePesHeader(w, bare); }, 9},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out = {0x11};
        VectorFieldWriter w(out);
        c.vector(w);
        BitByBitSink ref;
        c.reference(ref);
        ASSERT_EQ(ref.bits.size(), c.bytes * 8) << c.name;
        // Written whole while the writer still lives: the caller appends after it.
        ASSERT_EQ(out.size(), 1 + c.bytes) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1, out.end()), ref.WholeBytes()) << c.name;
    }
}

}  // namespace
}  // namespace common

#include "common/bitstream/emulation_prevention.h"

#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace common {
namespace {

using Bytes = std::vector<uint8_t>;

// References written from clause 7.4.1 byte by byte, counting zeros.
Bytes NaiveInsert(const Bytes& rbsp) {
    Bytes out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros == 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    if (zeros == 2) out.push_back(3);  // the payload may not end in 00 00
    return out;
}

Bytes NaiveRemove(const Bytes& payload) {
    Bytes out;
    int zeros = 0;
    for (uint8_t b : payload) {
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

Bytes Insert(const Bytes& rbsp, EscapeResult* result = nullptr) {
    Bytes out(EscapedBound(rbsp.size()));
    const EscapeResult r = InsertEmulationPrevention(rbsp, out);
    out.resize(r.written);
    if (result) *result = r;
    return out;
}

Bytes Remove(const Bytes& payload, EscapeResult* result = nullptr) {
    Bytes out(payload.size());
    const EscapeResult r = RemoveEmulationPrevention(payload, out);
    out.resize(r.written);
    if (result) *result = r;
    return out;
}

TEST(EmulationPreventionTest, HandMadeCasesBothWays) {
    struct Case {
        Bytes rbsp;
        Bytes payload;
    };
    const Case cases[] = {
        {{}, {}},
        {{0x00, 0x00, 0x00}, {0x00, 0x00, 0x03, 0x00}},
        {{0x00, 0x00}, {0x00, 0x00, 0x03}},
        {{0x00, 0x00, 0x01}, {0x00, 0x00, 0x03, 0x01}},
        {{0x00, 0x00, 0x02}, {0x00, 0x00, 0x03, 0x02}},
        {{0x00, 0x00, 0x03}, {0x00, 0x00, 0x03, 0x03}},
        {{0x00, 0x00, 0x04}, {0x00, 0x00, 0x04}},
        {{0x00, 0x01, 0x00, 0x01}, {0x00, 0x01, 0x00, 0x01}},
        {{0x00, 0x00, 0x00, 0x00, 0x01}, {0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x01}},
        {{0x25, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0x80},
         {0x25, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x02, 0x80}},
        {{0x80, 0x00, 0x00}, {0x80, 0x00, 0x00, 0x03}},  // cabac_zero_word after the stop bit
        {{0x80, 0x00, 0x00, 0x00, 0x00}, {0x80, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03}},
        {{0x00, 0x00, 0x03, 0x00, 0x00, 0x03}, {0x00, 0x00, 0x03, 0x03, 0x00, 0x00, 0x03, 0x03}},
    };
    for (const Case& c : cases) {
        EscapeResult r;
        EXPECT_EQ(Insert(c.rbsp, &r), c.payload);
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.read, c.rbsp.size());
        EXPECT_EQ(Remove(c.payload, &r), c.rbsp);
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.read, c.payload.size());
    }
}

TEST(EmulationPreventionTest, RandomBuffersAgreeWithTheByteRule) {
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        Bytes b(rng() % 100);
        for (uint8_t& x : b) {
            const uint32_t r = rng() % 8;
            x = r < 4 ? 0 : r < 7 ? static_cast<uint8_t>(r - 3) : static_cast<uint8_t>(rng());
        }
        const Bytes escaped = Insert(b);
        ASSERT_EQ(escaped, NaiveInsert(b)) << round;
        ASSERT_LE(escaped.size(), EscapedBound(b.size()));
        ASSERT_EQ(Remove(escaped), b) << round;  // round trip
        ASSERT_EQ(Remove(b), NaiveRemove(b)) << round;
    }
}

TEST(EmulationPreventionTest, FullOutputsStopAtAPrefix) {
    const Bytes rbsp = {0x11, 0x00, 0x00, 0x01, 0x22, 0x00, 0x00, 0x00, 0x33};
    const Bytes payload = NaiveInsert(rbsp);
    for (size_t room = 0; room < payload.size(); ++room) {
        Bytes out(room);  // exactly `room` bytes: a store past it is a sanitizer error
        const EscapeResult r = InsertEmulationPrevention(rbsp, out);
        EXPECT_FALSE(r.complete) << room;
        EXPECT_EQ(r.written, room);
        EXPECT_EQ(out, Bytes(payload.begin(), payload.begin() + static_cast<ptrdiff_t>(room)));
    }
    for (size_t room = 0; room <= rbsp.size(); ++room) {
        Bytes out(room);
        const EscapeResult r = RemoveEmulationPrevention(payload, out);
        EXPECT_EQ(r.written, room);
        EXPECT_EQ(out, Bytes(rbsp.begin(), rbsp.begin() + static_cast<ptrdiff_t>(room)));
        EXPECT_EQ(r.complete, room == rbsp.size()) << room;
        // The header a parser needs: the bytes read give exactly the bytes written.
        EXPECT_EQ(NaiveRemove(Bytes(payload.begin(), payload.begin() + static_cast<ptrdiff_t>(r.read))), out);
    }
}

}  // namespace
}  // namespace common

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/tests/x264_fixtures.h"

namespace avcdec {
namespace {

using Bytes = std::vector<uint8_t>;

struct Nal {
    Bytes bytes;
    int64_t time;  // kNoTimeStamp when the NAL unit has none
    bool operator==(const Nal&) const = default;
};

struct Push {
    Bytes data;
    int64_t time = kNoTimeStamp;
};

// Runs pushes through byte-stream extraction and collects every NAL unit handed out.
std::vector<Nal> Extract(const std::vector<Push>& pushes, std::vector<int>* codes = nullptr) {
    AvcDecoderContext* ctx = AvcDecoderCreate();
    EXPECT_NE(ctx, nullptr);
    std::vector<Nal> out;
    for (const Push& p : pushes) {
        size_t accepted = 0;
        EXPECT_EQ(AvcDecoderPushData(ctx, p.data.data(), p.time, p.data.size(), &accepted), 0);
        EXPECT_EQ(accepted, p.data.size());
        for (;;) {
            const int got = ExtractByteStreamNalUnit(ctx);
            if (codes != nullptr && got != kStepNeedData) codes->push_back(got);
            if (got == kStepNeedData) break;
            if (got != 0) continue;
            out.push_back({Bytes(ctx->nal->payload, ctx->nal->payload + ctx->nal->length),
                           ctx->hasTime ? ctx->nalTime : kNoTimeStamp});
        }
        EXPECT_EQ(ctx->input->dataStart, nullptr) << "a used-up push leaves no pointer into it";
    }
    AvcDecoderDestroy(ctx);
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(RemoveEmulationPrevention, Cases) {
    struct Case {
        Bytes in, out;
    };
    const Case cases[] = {
        {{0, 0, 3, 1}, {0, 0, 1}},
        {{0, 0, 3, 0, 0, 3}, {0, 0, 0, 0}},
        {{0, 0, 3, 3}, {0, 0, 3}},           // only the first 0x03 is emulation prevention
        {{3, 0, 3, 0, 0}, {3, 0, 3, 0, 0}},  // one zero is not enough
        {{0, 0, 0, 3, 2}, {0, 0, 0, 2}},
        {{0x03}, {0x03}},  // bytes before begin count as non-zero
        {{}, {}},
    };
    for (const Case& c : cases) {
        Bytes out(c.in.size() + 1, 0xEE);
        const size_t n = RemoveEmulationPrevention(c.in.data(), c.in.data() + c.in.size(), out.data());
        out.resize(n);
        EXPECT_EQ(out, c.out);
    }
}

TEST(ByteStreamExtraction, SkipsLeadingBytesAndRemovesEmulationPrevention) {
    const Bytes stream = {0x12, 0x00, 0x34, 0, 0, 1, 0x67, 0xAA, 0, 0, 3, 1, 0, 0, 0, 1, 0x68, 0xBB, 0, 0, 1};
    const auto nals = Extract({{stream, 7}});
    ASSERT_EQ(nals.size(), 2u);
    // The zero byte of the following four-byte start code stays as a trailing zero.
    EXPECT_EQ(nals[0].bytes, (Bytes{0x67, 0xAA, 0, 0, 1, 0}));
    EXPECT_EQ(nals[1].bytes, (Bytes{0x68, 0xBB}));
    EXPECT_EQ(nals[0].time, 7);
}

// A NAL unit split across pushes comes out once; each NAL unit takes the time stamp of
// the push it began in.
TEST(ByteStreamExtraction, NalUnitPerPushTakesItsOwnTimeStamp) {
    const Bytes a = {0, 0, 1, 0x09, 0xF0}, b = {0, 0, 1, 0x67, 1, 2, 3, 4, 5, 6}, c = {0, 0, 1, 0x68, 9};
    const auto nals = Extract({{a, 100}, {b, 200}, {c, 300}, {{0, 0, 1}, kNoTimeStamp}});
    ASSERT_EQ(nals.size(), 3u);
    EXPECT_EQ(nals[0], (Nal{{0x09, 0xF0}, 100}));
    EXPECT_EQ(nals[1], (Nal{{0x67, 1, 2, 3, 4, 5, 6}, 200}));
    EXPECT_EQ(nals[2], (Nal{{0x68, 9}, 300}));

    // Without any time stamp a NAL unit has none.
    const auto untimed = Extract({{Cat({a, b}), kNoTimeStamp}});
    ASSERT_EQ(untimed.size(), 1u);
    EXPECT_EQ(untimed[0].time, kNoTimeStamp);
}

// A push without a time stamp leaves the pending stamps alone: split into untimed pieces,
// a timed push still gives its stamp to the NAL unit that began in it.
TEST(ByteStreamExtraction, UntimedPiecesKeepTheTimedPushStamp) {
    const Bytes first = {0, 0, 1, 0x67, 1, 2, 3, 4, 5, 6, 7, 8};
    const auto nals = Extract({{Bytes(first.begin(), first.begin() + 4), 50},
                               {Bytes(first.begin() + 4, first.end()), kNoTimeStamp},
                               {{0, 0, 1, 0x68, 1}, kNoTimeStamp},
                               {{0, 0, 1}, kNoTimeStamp}});
    ASSERT_EQ(nals.size(), 2u);
    EXPECT_EQ(nals[0].time, 50);
    EXPECT_EQ(nals[1].time, 50);  // hasTime stays set until a picture takes it
}

// Decision: a damaged or over-long NAL unit is dropped alone and the rest of the push is
// still extracted.
TEST(ByteStreamExtraction, DamagedAndOverlongNalUnitsAreDroppedAlone) {
    std::vector<int> codes;
    const Bytes damaged = {0, 0, 1, 0xE7, 1, 2, 0, 0, 1, 0x68, 5, 0, 0, 1};
    auto nals = Extract({{damaged, 1}}, &codes);
    ASSERT_EQ(nals.size(), 1u);
    EXPECT_EQ(nals[0].bytes, (Bytes{0x68, 5}));
    EXPECT_EQ(codes, (std::vector<int>{kStepConsumed, 0}));

    Bytes longNal = {0, 0, 1, 0x06};
    longNal.resize(longNal.size() + kNalCopyAreaSize + 10, 0x55);
    const Bytes tail = {0, 0, 1, 0x68, 7, 0, 0, 1};
    codes.clear();
    nals = Extract({{Cat({longNal, tail}), 1}}, &codes);
    ASSERT_EQ(nals.size(), 1u);
    EXPECT_EQ(nals[0].bytes, (Bytes{0x68, 7}));
    EXPECT_EQ(codes, (std::vector<int>{kStepDropped, 0}));
}

// The NAL units and time stamps of each x264 fixture do not depend on how its bytes are
// cut into pushes: one push per NAL unit (each with its own stamp) against the same pushes
// cut again into random untimed pieces of 1 byte to 4 KB; and the whole stream in one push
// against random pieces.
TEST(ByteStreamExtraction, RandomChunksGiveTheSameNalUnitsAndTimeStamps) {
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    for (const auto& c : avcdec_test::X264Cases()) {
        SCOPED_TRACE(c.name);
        Bytes stream;
        ASSERT_TRUE(avcdec_test::MakeX264Stream(c, &stream));
        stream.insert(stream.end(), {0, 0, 1});  // ends the last NAL unit

        // Cut at every start code (the three bytes 0 0 1).
        std::vector<Push> perNal;
        size_t from = 0;
        for (size_t i = 3; i + 3 <= stream.size(); ++i) {
            if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
                perNal.push_back({Bytes(stream.begin() + from, stream.begin() + i), 1000 * (int64_t)perNal.size()});
                from = i;
            }
        }
        perNal.push_back({Bytes(stream.begin() + from, stream.end()), 1000 * (int64_t)perNal.size()});
        const auto reference = Extract(perNal);
        ASSERT_GT(reference.size(), 4u);
        for (size_t i = 0; i < reference.size(); ++i)
            ASSERT_EQ(reference[i].time, 1000 * (int64_t)i);

        std::vector<Push> pieces;
        for (const Push& p : perNal) {
            for (size_t at = 0; at < p.data.size();) {
                const size_t n = std::min<size_t>(p.data.size() - at, 1 + rng() % 4096 / (1 + rng() % 64));
                pieces.push_back(
                    {Bytes(p.data.begin() + at, p.data.begin() + at + n), at == 0 ? p.time : kNoTimeStamp});
                at += n;
            }
        }
        EXPECT_EQ(Extract(pieces), reference);

        const auto whole = Extract({{stream, 5}});
        std::vector<Push> wholePieces;
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min<size_t>(stream.size() - at, 1 + rng() % 4096);
            wholePieces.push_back({Bytes(stream.begin() + at, stream.begin() + at + n), at == 0 ? 5 : kNoTimeStamp});
            at += n;
        }
        EXPECT_EQ(Extract(wholePieces), whole);
        ASSERT_EQ(whole.size(), reference.size());
        for (size_t i = 0; i < whole.size(); ++i)
            EXPECT_EQ(whole[i].bytes, reference[i].bytes);
    }
}

TEST(SingleNalExtraction, OnePushIsOneNalUnit) {
    AvcDecoderContext* ctx = AvcDecoderCreate();
    ASSERT_NE(ctx, nullptr);
    const Bytes nal = {0x68, 0, 0, 3, 1, 0x80};
    size_t accepted = 0;
    AvcDecoderPushData(ctx, nal.data(), 42, nal.size(), &accepted);
    ASSERT_EQ(ExtractSingleNalUnit(ctx), 0);
    EXPECT_EQ(Bytes(ctx->nal->payload, ctx->nal->payload + ctx->nal->length), (Bytes{0x68, 0, 0, 1, 0x80}));
    EXPECT_EQ(ctx->nal->nal_unit_type, 8);
    EXPECT_EQ(ctx->nal->nal_ref_idc, 3);
    EXPECT_TRUE(ctx->hasTime);
    EXPECT_EQ(ctx->nalTime, 42);
    EXPECT_EQ(ExtractSingleNalUnit(ctx), kStepNeedData);

    const Bytes damaged = {0xE8, 1};
    AvcDecoderPushData(ctx, damaged.data(), kNoTimeStamp, damaged.size(), &accepted);
    EXPECT_EQ(AvcDecoderDecodeNalUnit(ctx), kStepNeedData);
    EXPECT_EQ(ctx->input->dataStart, nullptr);

    Bytes tooLong(kNalCopyAreaSize + 1, 0x55);
    tooLong[0] = 0x68;
    AvcDecoderPushData(ctx, tooLong.data(), kNoTimeStamp, tooLong.size(), &accepted);
    EXPECT_EQ(AvcDecoderDecodeNalUnit(ctx), kStepNeedData);
    EXPECT_EQ(ctx->input->dataStart, nullptr) << "the dropped push is not kept";
    AvcDecoderDestroy(ctx);
}

}  // namespace
}  // namespace avcdec

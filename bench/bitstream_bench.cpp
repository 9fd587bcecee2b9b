// The common bitstream layer against the readers, writers and scanners the cores use today,
// on the same data: a fixed mix of syntax elements for the bit writer and reader, and a real
// H.264 byte stream (the file given as the first argument; bench/bitstream_bench.sh makes
// one with x264) for start-code scanning, NAL extraction and emulation prevention.
//
//   bitstream_bench FILE.264 [--benchmark_... flags]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "common/bitstream/bit_reader.h"
#include "common/bitstream/bit_writer.h"
#include "common/bitstream/emulation_prevention.h"
#include "common/bitstream/start_code.h"
#include "editor/core/bit_ring.h"
#include "filters/decoder/core/bit_reader.h"
#include "filters/decoder/core/decoder_context.h"
#include "filters/encoder/core/bit_buffer.h"
#include "filters/encoder/core/nal_writer.h"

namespace {

std::vector<uint8_t> gStream;  // the H.264 byte stream under test

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bitstream_bench: %s\n", what);
        std::exit(1);
    }
}

// ---- Bit writer and reader: one fixed mix of fields ----------------------------------------

struct Field {
    uint8_t kind;  // 0 u(n), 1 ue(v)
    uint8_t n;
    uint32_t value;
};

// Shaped like slice data: mostly short fixed fields and small Exp-Golomb values, some
// longer ones. ue values stay below 2^15 so that today's decoder reader can read them.
const std::vector<Field>& Fields() {
    static const std::vector<Field> fields = [] {
        std::mt19937 rng(5);
        std::vector<Field> f(1 << 20);
        for (Field& x : f) {
            const uint32_t r = rng() % 16;
            if (r < 9) {
                x.kind = 0;
                x.n = static_cast<uint8_t>(r < 6 ? 1 + rng() % 4 : 1 + rng() % 16);
                x.value = static_cast<uint32_t>(rng()) & ((1u << x.n) - 1);
            } else {
                x.kind = 1;
                x.n = 0;
                x.value = static_cast<uint32_t>(rng()) >> (r < 14 ? 29 : 18);
            }
        }
        return f;
    }();
    return fields;
}

int UeBitsOf(uint32_t v) {
    return common::UeBits(v);
}

// The fields as u(n) writes only (ue written as its code in one field), for the writers.
const std::vector<Field>& WriteOps() {
    static const std::vector<Field> ops = [] {
        std::vector<Field> out;
        for (const Field& f : Fields()) {
            if (f.kind == 0) {
                out.push_back(f);
            } else {
                const int len = UeBitsOf(f.value);  // <= 31: one field
                out.push_back({0, static_cast<uint8_t>(len), f.value + 1});
            }
        }
        return out;
    }();
    return ops;
}

constexpr size_t kWriterBytes = 16 << 20;

void BM_BitWriter_Common(benchmark::State& state) {
    const std::vector<Field>& ops = WriteOps();
    std::vector<uint8_t> out(kWriterBytes);
    for (auto _ : state) {
        common::BitWriter w(out.data(), out.size());
        for (const Field& f : ops)
            w.PutBits(f.n, f.value);
        w.AlignWithZeros();
        benchmark::DoNotOptimize(out.data());
        Require(!w.Overflowed(), "writer overflow");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * ops.size()));
}

// Today's encoder sink, called as the header writer calls it: through the base pointer.
void BM_BitWriter_CBitBuffer(benchmark::State& state) {
    const std::vector<Field>& ops = WriteOps();
    ombrisk::CBitBuffer buffer(kWriterBytes);
    for (auto _ : state) {
        buffer.Reset();
        ombrisk::CBitCounter* sink = &buffer;
        benchmark::DoNotOptimize(sink);
        for (const Field& f : ops)
            sink->PutBits(f.n, f.value);
        buffer.WriteTrailingBits();
        benchmark::DoNotOptimize(buffer.Data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * ops.size()));
}

// The syntax mix written once, for the readers.
const std::vector<uint8_t>& FieldBytes() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> out(kWriterBytes);
        common::BitWriter w(out.data(), out.size());
        for (const Field& f : Fields()) {
            if (f.kind == 0)
                w.PutBits(f.n, f.value);
            else
                w.PutUe(f.value);
        }
        w.PutTrailingBits();
        out.resize(w.ByteCount());
        return out;
    }();
    return bytes;
}

void BM_BitReader_Common(benchmark::State& state) {
    const std::vector<Field>& fields = Fields();
    const std::vector<uint8_t>& bytes = FieldBytes();
    for (auto _ : state) {
        common::BitReader r(bytes.data(), bytes.size());
        uint32_t sum = 0;
        for (const Field& f : fields)
            sum += f.kind == 0 ? r.ReadBits(f.n) : r.ReadUe();
        benchmark::DoNotOptimize(sum);
        Require(r.Ok(), "reader error");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fields.size()));
}

void BM_BitReader_Decoder(benchmark::State& state) {
    const std::vector<Field>& fields = Fields();
    const std::vector<uint8_t>& bytes = FieldBytes();
    for (auto _ : state) {
        avcdec::BitReader r;
        avcdec::InitBitReader(&r, bytes.data(), static_cast<int32_t>(bytes.size() * 8));
        uint32_t sum = 0;
        for (const Field& f : fields)
            sum += f.kind == 0 ? avcdec::ReadBits(&r, f.n) : static_cast<uint32_t>(avcdec::ReadUe(&r));
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fields.size()));
}

// ---- Start codes, NAL units, emulation prevention on the real stream ------------------------

void SetBytes(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

size_t CountCommon() {
    size_t n = 0;
    const uint8_t* const end = gStream.data() + gStream.size();
    for (const uint8_t* p = common::FindStartCode(gStream.data(), end); p != end; p = common::FindStartCode(p + 3, end))
        ++n;
    return n;
}

// The muxer's and editor's loop: compare three bytes at every position.
size_t CountByteCompare() {
    size_t n = 0;
    const uint8_t* b = gStream.data();
    for (size_t i = 0; i + 3 <= gStream.size(); ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
            ++n;
            i += 2;
        }
    }
    return n;
}

// The decoder's loop: a shift register of the last three bytes.
size_t CountShiftRegister() {
    size_t n = 0;
    uint32_t shift = 0xFFFFFF;
    for (uint8_t byte : gStream) {
        shift = ((shift << 8) | byte) & 0xFFFFFF;
        if (shift == 1) {
            ++n;
            shift = 0xFFFFFF;
        }
    }
    return n;
}

void BM_StartCode_Common(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(CountCommon());
    SetBytes(state, gStream.size());
}
void BM_StartCode_ByteCompare(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(CountByteCompare());
    SetBytes(state, gStream.size());
}
void BM_StartCode_ShiftRegister(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(CountShiftRegister());
    SetBytes(state, gStream.size());
}

// The editor's ring: SkipToStartCode over the whole stream held in the ring.
void BM_StartCode_EditorRing(benchmark::State& state) {
    editor::CBitRing ring;
    Require(ring.Create(gStream.size() + 16), "ring");
    size_t n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ring.Reset();
        Require(ring.PutBytes(gStream.data(), gStream.size()), "ring fill");
        state.ResumeTiming();
        n = 0;
        while (ring.FillLevel() >= 4) {
            ring.SkipToStartCode();
            if (ring.FillLevel() < 4) break;
            ring.Skip(3);
            ++n;
        }
        benchmark::DoNotOptimize(n);
    }
    SetBytes(state, gStream.size());
}

// NAL extraction with emulation prevention removed, into one copy area.
void BM_NalExtraction_Common(benchmark::State& state) {
    std::vector<uint8_t> area(avcdec::kNalCopyAreaSize);
    for (auto _ : state) {
        const uint8_t* cursor = gStream.data();
        const uint8_t* const end = cursor + gStream.size();
        size_t units = 0, bytes = 0;
        for (;;) {
            const std::span<const uint8_t> nal = common::NextNalUnit(&cursor, end);
            if (nal.empty()) break;
            const common::EscapeResult r = common::RemoveEmulationPrevention(nal, area);
            bytes += r.written;
            ++units;
        }
        benchmark::DoNotOptimize(units + bytes);
    }
    SetBytes(state, gStream.size());
}

void BM_NalExtraction_Decoder(benchmark::State& state) {
    avcdec::AvcDecoderContext* ctx = avcdec::AvcDecoderCreate();
    Require(ctx != nullptr, "decoder context");
    for (auto _ : state) {
        avcdec::AvcDecoderReset(ctx);
        size_t accepted = 0;
        avcdec::AvcDecoderPushData(ctx, gStream.data(), -1, gStream.size(), &accepted);
        size_t units = 0;
        while (avcdec::ExtractByteStreamNalUnit(ctx) != avcdec::kStepNeedData)
            ++units;
        benchmark::DoNotOptimize(units);
    }
    avcdec::AvcDecoderDestroy(ctx);
    SetBytes(state, gStream.size());
}

// The stream's RBSPs, for the insertion benchmarks.
const std::vector<std::vector<uint8_t>>& Rbsps() {
    static const std::vector<std::vector<uint8_t>> rbsps = [] {
        std::vector<std::vector<uint8_t>> out;
        const uint8_t* cursor = gStream.data();
        const uint8_t* const end = cursor + gStream.size();
        for (;;) {
            const std::span<const uint8_t> nal = common::NextNalUnit(&cursor, end);
            if (nal.empty()) break;
            std::vector<uint8_t> rbsp(nal.size());
            rbsp.resize(common::RemoveEmulationPrevention(nal, rbsp).written);
            out.push_back(std::move(rbsp));
        }
        return out;
    }();
    return rbsps;
}

void BM_EmulationInsert_Common(benchmark::State& state) {
    std::vector<uint8_t> out(common::EscapedBound(gStream.size()));
    size_t total = 0;
    for (const auto& r : Rbsps())
        total += r.size();
    for (auto _ : state) {
        size_t at = 0;
        for (const auto& r : Rbsps())
            at += common::InsertEmulationPrevention(r, std::span<uint8_t>(out).subspan(at)).written;
        benchmark::DoNotOptimize(at);
    }
    SetBytes(state, total);
}

void BM_EmulationInsert_Encoder(benchmark::State& state) {
    ombrisk::CBitBuffer out(common::EscapedBound(gStream.size()));
    size_t total = 0;
    for (const auto& r : Rbsps())
        total += r.size();
    for (auto _ : state) {
        out.Reset();
        size_t at = 0;
        for (const auto& r : Rbsps())
            at += ombrisk::EscapePayload(r.data(), r.size(), &out);
        benchmark::DoNotOptimize(at);
    }
    SetBytes(state, total);
}

// Before timing: the old and the new code give the same results on this data.
void CheckAgreement() {
    Require(CountCommon() == CountByteCompare() && CountCommon() == CountShiftRegister(), "start-code counts differ");
    // Identical bytes from both writers.
    std::vector<uint8_t> a(kWriterBytes);
    common::BitWriter w(a.data(), a.size());
    ombrisk::CBitBuffer b(kWriterBytes);
    for (const Field& f : WriteOps()) {
        w.PutBits(f.n, f.value);
        b.PutBits(f.n, f.value);
    }
    w.PutTrailingBits();
    b.WriteTrailingBits();
    Require(w.ByteCount() == b.ByteCount() &&
                std::equal(a.begin(), a.begin() + static_cast<ptrdiff_t>(w.ByteCount()), b.Data()),
            "writers differ");
    // Identical values from both readers.
    common::BitReader r(FieldBytes().data(), FieldBytes().size());
    avcdec::BitReader d;
    avcdec::InitBitReader(&d, FieldBytes().data(), static_cast<int32_t>(FieldBytes().size() * 8));
    for (const Field& f : Fields()) {
        const uint32_t x = f.kind == 0 ? r.ReadBits(f.n) : r.ReadUe();
        const uint32_t y = f.kind == 0 ? avcdec::ReadBits(&d, f.n) : static_cast<uint32_t>(avcdec::ReadUe(&d));
        Require(x == y && x == f.value, "readers differ");
    }
    // Identical escaped payloads.
    for (const auto& rbsp : Rbsps()) {
        std::vector<uint8_t> mine(common::EscapedBound(rbsp.size()));
        mine.resize(common::InsertEmulationPrevention(rbsp, mine).written);
        ombrisk::CBitBuffer theirs(common::EscapedBound(rbsp.size()));
        ombrisk::EscapePayload(rbsp.data(), rbsp.size(), &theirs);
        Require(mine.size() == theirs.ByteCount() && std::equal(mine.begin(), mine.end(), theirs.Data()),
                "escaped payloads differ");
    }
}

}  // namespace

BENCHMARK(BM_BitWriter_Common);
BENCHMARK(BM_BitWriter_CBitBuffer);
BENCHMARK(BM_BitReader_Common);
BENCHMARK(BM_BitReader_Decoder);
BENCHMARK(BM_StartCode_Common);
BENCHMARK(BM_StartCode_ByteCompare);
BENCHMARK(BM_StartCode_ShiftRegister);
BENCHMARK(BM_StartCode_EditorRing);
BENCHMARK(BM_NalExtraction_Common);
BENCHMARK(BM_NalExtraction_Decoder);
BENCHMARK(BM_EmulationInsert_Common);
BENCHMARK(BM_EmulationInsert_Encoder);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Require(argc >= 2, "usage: bitstream_bench FILE.264 [--benchmark_... flags]");
    std::ifstream in(argv[1], std::ios::binary);
    gStream.assign(std::istreambuf_iterator<char>(in), {});
    Require(!gStream.empty(), "cannot read the stream");
    CheckAgreement();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

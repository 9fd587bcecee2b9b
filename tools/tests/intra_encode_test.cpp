// I pictures of the encoder core judged by FFmpeg: its decode of our stream, with no
// message, equals the reconstruction the encoder keeps, byte for byte; and coding a
// picture allocates nothing per macroblock.
#include "tools/intra_encode.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/intra_picture.h"
#include "filters/encoder/core/picture_encoder.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace {

std::atomic<long> gAllocations{0};

}  // namespace

// The replacements pair malloc with free themselves; GCC, seeing through them into
// std::allocator, would take the pair for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) {
    ++gAllocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace ombrisk_tools {
namespace {

struct JudgeCase {
    const char* name;
    const char* graph;  // lavfi source graph
    int frames, qp, level, slices;
    bool deblocking;
    int gop;
    bool interlaced = false;
};

constexpr const char* kTestsrc176 = "testsrc2=size=176x144:rate=25";
constexpr const char* kTestsrc352 = "testsrc2=size=352x288:rate=25";
constexpr const char* kMandelbrot176 = "mandelbrot=size=176x144:rate=25";
constexpr const char* kNoise176 = "nullsrc=s=176x144,geq=random(1)*255:128+40*random(2):128-40*random(3)";

std::string Clip(const JudgeCase& c) {
    std::string path;
    EXPECT_TRUE(testsupport::MediaFixture(std::string("ffmpeg -nostdin -v error -f lavfi -i '") + c.graph +
                                              "' -frames:v " + std::to_string(c.frames) +
                                              " -pix_fmt yuv420p -f yuv4mpegpipe {out}",
                                          "y4m", &path));
    return path;
}

// Codes the clip with `o` (input and outputs filled in here) and returns ffmpeg's messages
// and whether its decode equals the kept reconstruction; the stream size in *bytes.
void JudgeWithFfmpeg(const std::string& clip, IntraEncodeOptions o, size_t* bytes = nullptr) {
    const std::string stem = testsupport::UniqueName("enc");
    o.input = clip;
    o.output = testsupport::FixturePath(stem + ".264");
    o.reconstruction = testsupport::FixturePath(stem + ".rec");
    std::string error;
    ASSERT_EQ(RunIntraEncode(o, &error), 0) << error;
    ASSERT_EQ(testsupport::RunShell("ffmpeg -nostdin -v error -threads 1 -i " + stem +
                                    ".264 -f rawvideo -pix_fmt yuv420p -y " + stem + ".dec 2> " + stem + ".log"),
              0);
    EXPECT_EQ(testsupport::ReadFixtureFile(stem + ".log"), "");
    const std::string decoded = testsupport::ReadFixtureFile(stem + ".dec");
    const std::string reconstruction = testsupport::ReadFixtureFile(stem + ".rec");
    ASSERT_FALSE(reconstruction.empty());
    EXPECT_TRUE(decoded == reconstruction) << "decoded " << decoded.size() << " bytes, kept " << reconstruction.size();
    if (bytes) *bytes = testsupport::ReadFixtureFile(stem + ".264").size();
    testsupport::RunShell("rm -f " + stem + ".264 " + stem + ".rec " + stem + ".dec " + stem + ".log");
}

TEST(IntraEncode, FfmpegDecodesTheReconstruction) {
    const JudgeCase cases[] = {
        {"testsrc2, one slice", kTestsrc176, 3, 26, 0, 1, true, 1},
        {"level 0, four slices", kTestsrc352, 2, 26, 0, 4, true, 1},
        {"level 1, four slices", kTestsrc352, 2, 26, 1, 4, true, 1},
        {"level 2, four slices", kTestsrc352, 2, 26, 2, 4, true, 1},
        {"mandelbrot at QP 51", kMandelbrot176, 2, 51, 1, 4, true, 1},
        {"mandelbrot at QP 40, no deblocking", kMandelbrot176, 2, 40, 2, 1, false, 1},
        // Noise at QP 0 needs more bits than a macroblock may carry: I_PCM.
        {"noise at QP 0", kNoise176, 2, 0, 0, 1, false, 1},
        {"noise at QP 0, level 2", kNoise176, 1, 0, 2, 2, true, 1},
        // A size that is no multiple of 16, and I pictures after the IDR one.
        {"718x574 at QP 10", "testsrc2=size=718x574:rate=25", 2, 10, 0, 4, true, 2},
        // A field-capable stream (frame_mbs_only_flag 0) of frame pictures.
        {"interlaced source", kTestsrc352, 2, 30, 1, 4, true, 1, true},
    };
    for (const JudgeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string clip = Clip(c);
        ASSERT_FALSE(clip.empty());
        IntraEncodeOptions o;
        o.qp = c.qp;
        o.level = c.level;
        o.slices = c.slices;
        o.deblocking = c.deblocking;
        o.gop = c.gop;
        o.interlaced = c.interlaced;
        JudgeWithFfmpeg(clip, o);
    }
}

struct InterCase {
    const char* name;
    const char* graph;
    int frames, qp, level, slices, bFrames, refs;
    bool motionSearch = true;
    int subpel = 2;
    int partitions = 15;
    int gop = 0;
};

// A pan that carries content out of the picture: vectors near the edges point outside it.
constexpr const char* kPan176 = "testsrc2=size=320x240:rate=25,crop=176:144:x=t*300:y=t*100";
constexpr const char* kZoom176 = "mandelbrot=size=176x144:rate=25:start_scale=0.3:end_scale=0.001:end_pts=1";

TEST(InterEncode, FfmpegDecodesTheReconstruction) {
    const InterCase cases[] = {
        {"testsrc2, two B pictures, level 0", kTestsrc176, 8, 26, 0, 1, 2, 1},
        {"pan, three references, four slices, level 1", kPan176, 8, 30, 1, 4, 1, 3},
        {"mandelbrot zoom, five references, level 2, QP 10", kZoom176, 6, 10, 2, 1, 0, 5},
        {"odd size scrolling, level 2, four slices, QP 51", "testsrc2=size=200x120:rate=25,scroll=h=0.02:v=0.01", 7, 51,
         2, 4, 2, 2},
        {"pan, half samples, 16x16 only, level 2", kPan176, 6, 36, 2, 1, 1, 2, true, 1, 1},
        {"zero motion, level 1, IDR every 4", kTestsrc176, 9, 20, 1, 2, 1, 1, false, 2, 15, 4},
        {"pan, all sub-8x8 shapes, level 1, two slices", kPan176, 6, 22, 1, 2, 0, 2, true, 2, 127},
        {"zoom, 4x4 sub-blocks only, level 2, QP 40", kZoom176, 6, 40, 2, 1, 1, 1, true, 2, 79},
        {"odd size, 8x4 and 4x8, level 1, half samples", "testsrc2=size=200x120:rate=25,scroll=h=0.02:v=0.01", 6, 14, 1,
         1, 0, 3, true, 1, 63},
        {"pan, B sub-blocks, level 2, two slices", kPan176, 6, 24, 2, 2, 2, 2, true, 2, 127},
    };
    for (const InterCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string clip = Clip(JudgeCase{c.name, c.graph, c.frames, 0, 0, 0, true, 0});
        ASSERT_FALSE(clip.empty());
        IntraEncodeOptions o;
        o.inter = true;
        o.qp = c.qp;
        o.level = c.level;
        o.slices = c.slices;
        o.bFrames = c.bFrames;
        o.refs = c.refs;
        o.motionSearch = c.motionSearch;
        o.subpel = c.subpel;
        o.partitions = c.partitions;
        o.gop = c.gop;
        JudgeWithFfmpeg(clip, o);
    }
}

// At a fixed QP the motion search codes moving content in fewer bits than zero motion.
TEST(InterEncode, MotionSearchSavesBitsOnMovingContent) {
    const std::string clip = Clip(JudgeCase{"pan", kPan176, 8, 0, 0, 0, true, 0});
    ASSERT_FALSE(clip.empty());
    IntraEncodeOptions o;
    o.inter = true;
    o.qp = 26;
    o.gop = 0;
    size_t searched = 0, zero = 0;
    JudgeWithFfmpeg(clip, o, &searched);
    o.motionSearch = false;
    JudgeWithFfmpeg(clip, o, &zero);
    EXPECT_LT(searched * 10, zero * 8) << searched << " bytes searched, " << zero << " at zero motion";
}

// Fills `block` for a width x height source from the default words, CAVLC, and the
// given word changes.
void MakeBlock(ombrisk::EncoderBlock* block, int width, int height,
               std::initializer_list<std::pair<int, int32_t>> words) {
    using namespace ombrisk;
    int32_t params[kParamWords];
    DefaultParameterWords(params);
    params[kParCabac] = 0;
    for (const auto& [word, value] : words)
        params[word] = value;
    EXPECT_EQ(StoreParameterRecord(block, params, 1), kCoreOk);
    EXPECT_EQ(StorePictureRecord(block, width, height, width, height, 1), kCoreOk);
    FillChromaGeometry(block);
}

// A width x height picture of hashed samples (shifted by `shift` positions) in `pixels`.
ombrisk::PlanarPicture HashedPicture(std::vector<uint8_t>* pixels, int width, int height, int shift) {
    pixels->resize(size_t(width) * height * 3 / 2);
    for (size_t i = 0; i < pixels->size(); ++i)
        (*pixels)[i] = static_cast<uint8_t>(((i + shift) * 2654435761u) >> 13);
    const uint8_t* p = pixels->data();
    return {p, p + width * height, p + width * height * 5 / 4, width, height, width, width / 2};
}

// Allocations while coding the second picture: the same at 99 and at 1620 macroblocks, at
// every coder level, so none is made per macroblock.
TEST(IntraEncode, NoAllocationPerMacroblock) {
    using namespace ombrisk;
    const auto allocationsFor = [](int width, int height, int level) {
        EncoderBlock block;
        MakeBlock(&block, width, height, {{kParSliceCount, 1}, {kParMbCoderLevel, level}, {kParQpI, 20}});
        CIntraPictureEncoder encoder(block);
        EXPECT_EQ(encoder.status(), kCoreOk);
        std::vector<uint8_t> pixels;
        const PlanarPicture pic = HashedPicture(&pixels, width, height, 0);
        std::vector<uint8_t> out;
        out.reserve(size_t(8) << 20);
        EXPECT_EQ(encoder.EncodePicture(pic, &out), kCoreOk);
        out.clear();
        const long before = gAllocations.load();
        EXPECT_EQ(encoder.EncodePicture(pic, &out), kCoreOk);
        return gAllocations.load() - before;
    };
    for (int level = 0; level <= 2; ++level)
        EXPECT_EQ(allocationsFor(176, 144, level), allocationsFor(720, 576, level)) << "level " << level;
}

// The inter pictures too: allocations while coding a P and a B picture are the same at 99
// and at 396 macroblocks.
TEST(InterEncode, NoAllocationPerMacroblock) {
    using namespace ombrisk;
    const auto allocationsFor = [](int width, int height, int level) {
        EncoderBlock block;
        MakeBlock(&block, width, height,
                  {{kParGopLength, 0},
                   {kParBFrames, 1},
                   {kParRefFrames, 2},
                   {kParPartitions, 15},
                   {kParSliceCount, 1},
                   {kParMbCoderLevel, level},
                   {kParQpI, 24},
                   {kParQpP, 24},
                   {kParQpB, 24}});
        CPictureEncoder encoder(block);
        EXPECT_EQ(encoder.status(), kCoreOk);
        std::vector<uint8_t> pixels;
        const auto picture = [&](int shift) { return HashedPicture(&pixels, width, height, shift); };
        std::vector<uint8_t> out;
        out.reserve(size_t(16) << 20);
        EXPECT_EQ(encoder.EncodePicture(picture(0), PictureOrder{kSliceI, true, true, 0}, &out), kCoreOk);
        const long before = gAllocations.load();
        EXPECT_EQ(encoder.EncodePicture(picture(3), PictureOrder{kSliceP, false, true, 2}, &out), kCoreOk);
        EXPECT_EQ(encoder.EncodePicture(picture(1), PictureOrder{kSliceB, false, false, 1}, &out), kCoreOk);
        return gAllocations.load() - before;
    };
    for (int level = 0; level <= 2; ++level)
        EXPECT_EQ(allocationsFor(176, 144, level), allocationsFor(352, 288, level)) << "level " << level;
}

// Sub-sample depth 0 keeps every vector on whole samples, depth 1 on half samples; depth 2
// reaches quarter samples.
TEST(InterEncode, SubSampleDepthBoundsTheVectors) {
    using namespace ombrisk;
    const auto vectorUnits = [](int depth) {
        EncoderBlock block;
        MakeBlock(&block, 128, 96,
                  {{kParGopLength, 0},
                   {kParBFrames, 0},
                   {kParRefFrames, 1},
                   {kParSubpelDepth, depth},
                   {kParPartitions, 15},
                   {kParMbCoderLevel, 1},
                   {kParQpI, 22},
                   {kParQpP, 22}});
        CPictureEncoder encoder(block);
        EXPECT_EQ(encoder.status(), kCoreOk);
        // A smooth pattern moved by a fraction of a sample between the two pictures.
        std::vector<uint8_t> pixels(128 * 96 * 3 / 2, 128);
        const auto picture = [&](double shift) {
            for (int y = 0; y < 96; ++y)
                for (int x = 0; x < 128; ++x)
                    pixels[y * 128 + x] = static_cast<uint8_t>(128 + 60 * std::sin((x + shift) * 0.21) *
                                                                         std::cos((y + 0.6 * shift) * 0.17));
            return PlanarPicture{
                pixels.data(), pixels.data() + 128 * 96, pixels.data() + 128 * 96 * 5 / 4, 128, 96, 128, 64};
        };
        std::vector<uint8_t> out;
        EXPECT_EQ(encoder.EncodePicture(picture(0), PictureOrder{kSliceI, true, true, 0}, &out), kCoreOk);
        EXPECT_EQ(encoder.EncodePicture(picture(2.3), PictureOrder{kSliceP, false, true, 1}, &out), kCoreOk);
        // The finest step among the vectors: 4 whole samples, 2 half, 1 quarter.
        int finest = 4, moved = 0;
        const CRefPictureStore& p = encoder.reconstruction();
        for (int mb = 0; mb < block.macroblocks.count; ++mb) {
            const MbRecord& r = p.records()[(mb / 8) * p.recordStride() + mb % 8];
            for (const MotionEntry& e : r.motion[0]) {
                if (e.ref < 0) continue;
                moved += e.x != 0 || e.y != 0;
                for (int v : {int(e.x), int(e.y)})
                    finest = std::min(finest, v % 4 == 0 ? 4 : v % 2 == 0 ? 2 : 1);
            }
        }
        EXPECT_GT(moved, 0) << "depth " << depth;
        return finest;
    };
    EXPECT_EQ(vectorUnits(0), 4);
    EXPECT_EQ(vectorUnits(1), 2);
    EXPECT_EQ(vectorUnits(2), 1);
}

// A packed 4:2:0 picture of w x h held in one vector.
ombrisk::PlanarPicture Planar420(const std::vector<uint8_t>& p, int w, int h) {
    return ombrisk::PlanarPicture{p.data(), p.data() + w * h, p.data() + w * h * 5 / 4, w, h, w, w / 2};
}

// kParPartitions bits 1-3 allow the 16x8, 8x16 and 8x8 partitions and bits 4-6 the 8x4, 4x8 and
// 4x4 sub-partitions of P_8x8: on a picture whose 4x4 blocks each move their own way, the
// allowed shapes (and only those) split the macroblocks and their 8x8 quadrants, as the
// records' shapes and per-block vectors show, at levels 1 and 2.
TEST(InterEncode, SubPartitionsFollowTheShapeBits) {
    using namespace ombrisk;
    constexpr int kW = 96, kH = 64;
    // Bit 0: side-by-side blocks of a quadrant differ (4x8, 4x4); bit 1: stacked ones (8x4, 4x4).
    struct Splits {
        int sub = 0;     // bit 0: side-by-side blocks of a quadrant differ, bit 1: stacked ones
        int shapes = 0;  // bit s: partition shape s coded
    };
    const auto splits = [&](int32_t partitions, int level = 1) {
        EncoderBlock block;
        MakeBlock(&block, kW, kH,
                  {{kParGopLength, 0},
                   {kParBFrames, 0},
                   {kParRefFrames, 1},
                   {kParPartitions, partitions},
                   {kParMbCoderLevel, level},
                   {kParQpI, 16},
                   {kParQpP, 16}});
        CPictureEncoder encoder(block);
        EXPECT_EQ(encoder.status(), kCoreOk);
        std::vector<uint8_t> first(kW * kH * 3 / 2), second(kW * kH * 3 / 2, 128);
        for (size_t i = 0; i < first.size(); ++i)
            first[i] = i < size_t(kW * kH) ? static_cast<uint8_t>((i * 2654435761u) >> 13) : 128;
        // Each 4x4 block of the second picture copies the first displaced by its own vector.
        for (int by = 0; by < kH / 4; ++by)
            for (int bx = 0; bx < kW / 4; ++bx) {
                const unsigned h = (bx * 73856093u) ^ (by * 19349663u);
                const int dx = int(h % 7) - 3, dy = int((h >> 8) % 7) - 3;
                for (int y = 4 * by; y < 4 * by + 4; ++y)
                    for (int x = 4 * bx; x < 4 * bx + 4; ++x)
                        second[y * kW + x] = first[std::clamp(y + dy, 0, kH - 1) * kW + std::clamp(x + dx, 0, kW - 1)];
            }
        std::vector<uint8_t> out;
        const auto picture = [&](const std::vector<uint8_t>& p) { return Planar420(p, kW, kH); };
        EXPECT_EQ(encoder.EncodePicture(picture(first), PictureOrder{kSliceI, true, true, 0}, &out), kCoreOk);
        EXPECT_EQ(encoder.EncodePicture(picture(second), PictureOrder{kSliceP, false, true, 1}, &out), kCoreOk);
        Splits seen;
        const CRefPictureStore& p = encoder.reconstruction();
        for (int mb = 0; mb < block.macroblocks.count; ++mb) {
            const MbRecord& r = p.records()[(mb / (kW / 16)) * p.recordStride() + mb % (kW / 16)];
            const auto same = [&](int a, int b) {
                return r.motion[0][a].x == r.motion[0][b].x && r.motion[0][a].y == r.motion[0][b].y;
            };
            if (r.kind == kMbPInter || r.kind == kMbP8x8 || r.kind == kMbSkipped) seen.shapes |= 1 << r.shape;
            for (int q = 0; q < 4; ++q) {
                const int b = (q >> 1) * 8 + (q & 1) * 2;
                if (!same(b, b + 1) || !same(b + 4, b + 5)) seen.sub |= 1;
                if (!same(b, b + 4) || !same(b + 1, b + 5)) seen.sub |= 2;
            }
        }
        return seen;
    };
    for (int level = 1; level <= 2; ++level) {
        SCOPED_TRACE(level);
        EXPECT_EQ(splits(15, level).sub, 0);
        EXPECT_EQ(splits(15 | 16, level).sub, 2);  // 8x4: rows of a quadrant move apart
        EXPECT_EQ(splits(15 | 32, level).sub, 1);  // 4x8: columns
        EXPECT_EQ(splits(15 | 64, level).sub, 3);  // 4x4
        EXPECT_EQ(splits(127, level).sub, 3);
        // One partition shape beside 16x16: that one is coded, no other.
        for (int32_t shape : {kPart16x8, kPart8x16, kPart8x8}) {
            const int shapes = splits(1 | 1 << shape, level).shapes;
            EXPECT_EQ(shapes & ~(1 | 1 << shape), 0) << "shape " << shape;
            EXPECT_NE(shapes & 1 << shape, 0) << "shape " << shape;
        }
        EXPECT_EQ(splits(1, level).shapes, 1);
    }
}

// B pictures whose quadrants are each best served by their own list and vector (the left
// half of the picture follows the past reference, the right half the future one, at
// vectors that change every `cell` samples) still code whole-macroblock predictions only:
// partition shapes are searched in P slices alone, whatever kParPartitions allows.
struct BKinds {
    int b8x8 = 0;   // B_8x8 macroblocks
    int inter = 0;  // inter macroblocks of any other kind (partitions, direct, skipped)
};

BKinds CodeBPicture(int32_t partitions, int level, int cell) {
    using namespace ombrisk;
    constexpr int kW = 96, kH = 64;
    EncoderBlock block;
    MakeBlock(&block, kW, kH,
              {{kParGopLength, 0},
               {kParBFrames, 1},
               {kParRefFrames, 1},
               {kParPartitions, partitions},
               {kParMbCoderLevel, level},
               {kParQpI, 16},
               {kParQpP, 16},
               {kParQpB, 16}});
    CPictureEncoder encoder(block);
    EXPECT_EQ(encoder.status(), kCoreOk);
    const size_t size = kW * kH * 3 / 2;
    std::vector<uint8_t> past(size, 128), future(size, 128), middle(size, 128);
    for (int i = 0; i < kW * kH; ++i) {
        past[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
        future[i] = static_cast<uint8_t>((i * 40503u + 7) >> 3);
    }
    for (int by = 0; by < kH / cell; ++by)
        for (int bx = 0; bx < kW / cell; ++bx) {
            const std::vector<uint8_t>& from = bx * cell < kW / 2 ? past : future;
            const int dx = (bx * 5 + by * 3) % 5 - 2, dy = (bx * 3 + by * 7) % 5 - 2;
            for (int y = cell * by; y < cell * by + cell; ++y)
                for (int x = cell * bx; x < cell * bx + cell; ++x)
                    middle[y * kW + x] = from[std::clamp(y + dy, 0, kH - 1) * kW + std::clamp(x + dx, 0, kW - 1)];
        }
    const auto picture = [&](const std::vector<uint8_t>& p) { return Planar420(p, kW, kH); };
    std::vector<uint8_t> out;
    EXPECT_EQ(encoder.EncodePicture(picture(past), PictureOrder{kSliceI, true, true, 0}, &out), kCoreOk);
    EXPECT_EQ(encoder.EncodePicture(picture(future), PictureOrder{kSliceP, false, true, 2}, &out), kCoreOk);
    EXPECT_EQ(encoder.EncodePicture(picture(middle), PictureOrder{kSliceB, false, false, 1}, &out), kCoreOk);
    BKinds kinds;
    const CRefPictureStore& p = encoder.reconstruction();
    for (int mb = 0; mb < block.macroblocks.count; ++mb) {
        const MbRecord& r = p.records()[(mb / (kW / 16)) * p.recordStride() + mb % (kW / 16)];
        kinds.b8x8 += r.kind == kMbB8x8;
        kinds.inter += r.kind != kMbB8x8 && r.kind != kMbIntra4x4 && r.kind != kMbIntra16x16;
    }
    return kinds;
}

TEST(InterEncode, BPicturesKeepWholeMacroblockPredictions) {
    for (int level = 0; level <= 2; ++level)
        for (int32_t partitions : {15, 127})
            for (int cell : {4, 8}) {
                SCOPED_TRACE(testing::Message()
                             << "level " << level << ", kParPartitions " << partitions << ", cell " << cell);
                const BKinds kinds = CodeBPicture(partitions, level, cell);
                EXPECT_EQ(kinds.b8x8, 0);
                // Motion in 8-sample cells is still served by inter predictions (with 4-sample
                // cells level 2 may code the whole picture intra).
                if (cell == 8) {
                    EXPECT_GT(kinds.inter, 0);
                }
            }
}

// Settings and picture orders the encoder cannot serve are refused, not coded wrongly.
TEST(InterEncode, RefusesWhatItCannotCode) {
    using namespace ombrisk;
    const auto makeBlock = [](EncoderBlock* block, int32_t motionSearch) {
        MakeBlock(block, 64, 48,
                  {{kParGopLength, 0}, {kParBFrames, 1}, {kParRefFrames, 1}, {kParMotionSearch, motionSearch}});
    };
    for (int32_t word : {-1, 2, 7}) {
        EncoderBlock block;
        makeBlock(&block, word);
        EXPECT_EQ(CPictureEncoder(block).status(), kCoreUnsupported) << "motion search word " << word;
    }
    EncoderBlock block;
    makeBlock(&block, 1);
    CPictureEncoder encoder(block);
    ASSERT_EQ(encoder.status(), kCoreOk);
    std::vector<uint8_t> pixels(64 * 48 * 3 / 2, 90), out;
    const PlanarPicture pic{pixels.data(), pixels.data() + 64 * 48, pixels.data() + 64 * 48 * 5 / 4, 64, 48, 64, 32};
    EXPECT_EQ(encoder.EncodePicture(pic, PictureOrder{kSliceP, false, true, 0}, &out), kCoreBadArgument);
    EXPECT_EQ(encoder.EncodePicture(pic, PictureOrder{kSliceP, true, true, 0}, &out), kCoreBadArgument);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(encoder.EncodePicture(pic, PictureOrder{kSliceI, true, true, 0}, &out), kCoreOk);
    const size_t afterIdr = out.size();
    // A B picture needs a reference after it in display order.
    EXPECT_EQ(encoder.EncodePicture(pic, PictureOrder{kSliceB, false, false, 1}, &out), kCoreBadArgument);
    EXPECT_EQ(out.size(), afterIdr);
    EXPECT_EQ(encoder.EncodePicture(pic, PictureOrder{kSliceP, false, true, 2}, &out), kCoreOk);
    EXPECT_EQ(encoder.EncodePicture(pic, PictureOrder{kSliceB, false, false, 1}, &out), kCoreOk);
    EXPECT_EQ(encoder.listCount(0), 1);
    EXPECT_EQ(encoder.listCount(1), 1);
}

}  // namespace
}  // namespace ombrisk_tools

// The decoder core end to end, judged from outside: the conformance streams' expected
// MD5s and ffmpeg's decode of x264 streams, frame by frame.
#include "tools/avc_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/nal_builder.h"
#include "tests/support/media_fixture.h"
#include "tests/support/sanitizer.h"
#include "tests/support/shell.h"
#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/kernel_table.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/decoder/core/slice_header.h"
#include "tools/md5.h"

namespace {

// The conformance suite's folder, in this process's path form.
std::string ConformancePath(const std::string& name) {
    std::string p = std::string(AVCDEC_CONFORMANCE_DIR) + "/" + name;
#ifdef _WIN32
    p = "Z:" + p;  // Wine maps drive Z: to the Unix root
#endif
    return p;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string FrameMd5(const tools::DecodedFrame& f) {
    tools::Md5 md5;
    md5.Update(f.yuv->data(), f.yuv->size());
    return md5.HexDigest();
}

// The hash column of `ffmpeg -f framemd5` output, one entry per frame.
std::vector<std::string> FfmpegFrameMd5s(const std::string& input, const std::string& options = "") {
    std::string path;
    EXPECT_TRUE(testsupport::MediaFixture("ffmpeg " + options + " -i '" + input + "' -f framemd5 {out}", "txt", &path));
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        out.push_back(line.substr(line.find_last_of(' ') + 1));
    }
    return out;
}

struct Decoded {
    int32_t damagedSlices = 0;
    std::vector<std::string> md5s;
    std::vector<int32_t> damage;
    std::vector<int32_t> decodeOrder;
    std::string wholeMd5;
};

Decoded Decode(const std::vector<uint8_t>& stream, size_t chunk = 0, int threads = 2) {
    Decoded d;
    tools::Md5 whole;
    const tools::DecodeSummary summary = tools::DecodeByteStream(
        stream, chunk,
        [&](const tools::DecodedFrame& f) {
            d.md5s.push_back(FrameMd5(f));
            d.damage.push_back(f.damage);
            d.decodeOrder.push_back(f.decodeIndex);
            whole.Update(f.yuv->data(), f.yuv->size());
        },
        true, threads);
    d.wholeMd5 = whole.HexDigest();
    d.damagedSlices = summary.damagedSlices;
    return d;
}

std::map<std::string, std::string> ExpectedMd5s() {
    std::ifstream in(ConformancePath("expected.tsv"));
    std::map<std::string, std::string> m;
    std::string file, vector, md5;
    std::getline(in, file);  // heading
    while (in >> file >> vector >> md5)
        m[file] = md5;
    return m;
}

// A stream decodes to the MD5 of its whole output with no picture damaged, with the
// process's kernels and with the portable ones alone, with the deblocking worker and on
// one thread. Under the thread sanitizer only the decode with the worker runs: the other
// two start no thread or the same one.
void ExpectWholeMd5(const std::vector<uint8_t>& stream, const std::string& md5) {
    ASSERT_FALSE(stream.empty());
    const uint32_t features = avcdec::DecoderKernels().featureWord;
    const Decoded d = Decode(stream);
    EXPECT_EQ(d.wholeMd5, md5);
    EXPECT_EQ(d.damagedSlices, 0);
    for (int32_t damage : d.damage)
        EXPECT_EQ(damage, 0);
    if (testsupport::kThreadSanitizer) return;
    avcdec::ReselectDecoderKernels(0);
    const Decoded portable = Decode(stream);
    avcdec::ReselectDecoderKernels(features);
    EXPECT_EQ(portable.wholeMd5, md5) << "portable kernels";
    EXPECT_EQ(Decode(stream, 0, 1).wholeMd5, md5) << "one thread";
}

// Whether the thread sanitizer's run decodes the suite's stream `name`: all of them
// elsewhere; there the streams whose pictures meet the deblocking worker each their own way.
bool DecodedUnderEveryConfiguration(const std::string& name, const std::vector<std::string>& threadSanitizerSet) {
    return !testsupport::kThreadSanitizer ||
           std::find(threadSanitizerSet.begin(), threadSanitizerSet.end(), name) != threadSanitizerSet.end();
}

// Every stream of the suite (Baseline and Extended, CAVLC, I and P pictures) decodes to
// its expected MD5 with no picture marked damaged.
TEST(AvcDecode, ConformanceStreamsMatchExpectedMd5) {
    const auto expected = ExpectedMd5s();
    ASSERT_EQ(expected.size(), 20u) << "expected.tsv in " << AVCDEC_CONFORMANCE_DIR;
    // Twenty slices a picture, three a picture, two a picture on average with the count
    // varying, one a picture with IDR pictures inside the stream.
    const std::vector<std::string> threadSanitizerSet = {"BASQP1_Sony_C.jsv", "SVA_CL1_E.264", "CI1_FT_B.264",
                                                         "MIDR_MW_D.264"};
    int decoded = 0;
    for (const auto& [name, md5] : expected) {
        if (!DecodedUnderEveryConfiguration(name, threadSanitizerSet)) continue;
        SCOPED_TRACE(name);
        ++decoded;
        ExpectWholeMd5(ReadFile(ConformancePath(name)), md5);
    }
    EXPECT_EQ(decoded, testsupport::kThreadSanitizer ? 4 : 20);
}

// The frames of an x264 stream made from a yuv fixture, and ffmpeg's frames of it.
struct X264Stream {
    std::vector<uint8_t> bytes;
    std::vector<std::string> reference;
};

X264Stream MakeX264Stream(const std::string& yuvName, const std::string& size, const std::string& options) {
    X264Stream out;
    std::string stream;
    EXPECT_TRUE(testsupport::MediaFixture(
        "x264 --quiet " + options + " --input-res " + size + " --fps 25 -o {out} " + yuvName, "264", &stream));
    const std::string streamName = stream.substr(stream.find_last_of("/\\") + 1);
    out.reference = FfmpegFrameMd5s(streamName, "-threads 1");
    out.bytes = ReadFile(stream);
    return out;
}

// A fading, noisy picture: weighted prediction finds weights, motion search finds work.
std::string FadingSource(const std::string& size, int frames) {
    std::string yuv;
    EXPECT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc2=size=" + size +
                                              ":rate=25 -vf fade=in:0:12,noise=alls=8:allf=t -frames:v " +
                                              std::to_string(frames) + " -pix_fmt yuv420p -f rawvideo {out}",
                                          "yuv", &yuv));
    return yuv.substr(yuv.find_last_of("/\\") + 1);
}

// A scrolling, fading, noisy picture: B pictures find direct and bi-predicted work.
std::string ScrollingSource(const std::string& size, int frames) {
    std::string yuv;
    EXPECT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc2=size=" + size +
                                              ":rate=25 -vf scroll=h=0.013:v=0.007,fade=in:0:8,noise=alls=6:allf=t "
                                              "-frames:v " +
                                              std::to_string(frames) + " -pix_fmt yuv420p -f rawvideo {out}",
                                          "yuv", &yuv));
    return yuv.substr(yuv.find_last_of("/\\") + 1);
}

// x264 streams of one kind at one size: every option set's stream decodes to ffmpeg's
// frames, in ffmpeg's order, with no slice and no picture damaged.
struct X264Family {
    const char* name;
    std::string (*source)(const std::string& size, int frames);
    const char* baseOptions;
    std::vector<const char*> options;
};

// CAVLC Main streams with P pictures (weighted prediction with 8 references, 4 slices, the
// weakest deblocking, QP 10/30/51).
const X264Family kPFamily = {"P",
                             FadingSource,
                             "--profile main --no-cabac --bframes 0 --keyint 30 ",
                             {"--crf 20 --weightp 2 --ref 8", "--crf 22 --slices 4", "--crf 22 --deblock -6:-6",
                              "--qp 10", "--qp 30", "--qp 51"}};
// CAVLC Main streams with B pictures (spatial and temporal direct, B pyramid and none, 16
// B pictures with 16 references, 4 slices, explicit weights in P and implicit ones in B).
const X264Family kBFamily = {
    "B",
    ScrollingSource,
    "--profile main --no-cabac --bframes 3 ",
    {"--crf 22", "--crf 22 --direct temporal", "--crf 24 --b-pyramid none", "--crf 24 --bframes 16 --ref 16",
     "--crf 22 --slices 4", "--crf 20 --weightp 2 --direct auto"}};
// CABAC Main streams as x264 makes them by default (3 B pictures, pyramid, weighted
// bi-prediction, spatial direct) and with temporal direct, no pyramid, 16 B pictures with
// 16 references, 4 slices, explicit P weights, P pictures only, and extreme QPs.
const X264Family kCabacFamily = {"Cabac",
                                 ScrollingSource,
                                 "--profile main ",
                                 {"--crf 22", "--crf 22 --direct temporal", "--crf 24 --b-pyramid none",
                                  "--crf 24 --bframes 16 --ref 16", "--crf 22 --slices 4", "--crf 20 --weightp 2",
                                  "--crf 20 --bframes 0 --ref 4 --partitions all", "--qp 4", "--qp 50"}};

struct X264SizeCase {
    const X264Family* family;
    const char* size;
    int frames;
    size_t chunk;  // bytes handed to the decoder at a time; 0: the whole stream
};

class X264StreamsMatchFfmpeg : public ::testing::TestWithParam<X264SizeCase> {};

TEST_P(X264StreamsMatchFfmpeg, EveryFrame) {
    const X264SizeCase& c = GetParam();
    const std::string yuvName = c.family->source(c.size, c.frames);
    for (const char* o : c.family->options) {
        SCOPED_TRACE(std::string(c.size) + " " + o);
        const X264Stream x = MakeX264Stream(yuvName, c.size, std::string(c.family->baseOptions) + o);
        ASSERT_EQ(x.reference.size(), static_cast<size_t>(c.frames));
        const Decoded d = Decode(x.bytes, c.chunk);
        EXPECT_EQ(d.md5s, x.reference);
        EXPECT_EQ(d.damagedSlices, 0);
        for (int32_t damage : d.damage)
            EXPECT_EQ(damage, 0);
    }
}

// Each family at three sizes, 1080 rows cropped from 1088; the smallest CABAC streams are
// fed 4093 bytes at a time.
INSTANTIATE_TEST_SUITE_P(
    AvcDecode, X264StreamsMatchFfmpeg,
    ::testing::Values(X264SizeCase{&kPFamily, "352x288", 10, 0}, X264SizeCase{&kPFamily, "720x576", 6, 0},
                      X264SizeCase{&kPFamily, "1920x1080", 4, 0}, X264SizeCase{&kBFamily, "352x288", 24, 0},
                      X264SizeCase{&kBFamily, "720x576", 10, 0}, X264SizeCase{&kBFamily, "1920x1080", 5, 0},
                      X264SizeCase{&kCabacFamily, "352x288", 24, 4093}, X264SizeCase{&kCabacFamily, "720x576", 10, 0},
                      X264SizeCase{&kCabacFamily, "1920x1080", 5, 0}),
    [](const ::testing::TestParamInfo<X264SizeCase>& info) {
        std::string size = info.param.size;
        std::replace(size.begin(), size.end(), 'x', '_');
        return std::string(info.param.family->name) + "_" + size;
    });

// ffmpeg's debug letter of a macroblock (its mb_type+qp map): the kind, then for inter
// macroblocks with their own motion the partition ('+' 8x8, '-' 16x8, '|' 8x16).
std::string DebugLetters(const avcdec::MacroblockInfo& mb) {
    const bool b = static_cast<int32_t>((mb.flags >> avcdec::kMbSliceKindShift) & 7) == avcdec::kSliceB;
    switch (mb.kind) {
        case avcdec::kMbIPcm:
            return "P";
        case avcdec::kMbIntra4x4:
            return "i";
        case avcdec::kMbIntra16x16:
            return "I";
        case avcdec::kMbSkip:
            return b ? "d" : "S";
        default:
            break;
    }
    if (mb.partShape == 0 && mb.directMask == 0xF) return "D";
    if (mb.partShape == 3) return b ? "X+" : ">+";  // 8x8 macroblocks name both lists in B
    int lists = 0;
    for (int q = 0; q < 4; ++q)
        lists |= mb.predLists[q];
    const char kind = lists == 1 ? '>' : lists == 2 ? '<' : 'X';
    return std::string(1, kind) + (mb.partShape == 1 ? "-" : mb.partShape == 2 ? "|" : "");
}

// Macroblock kinds, partitions and QPs of every picture of CABAC Main streams (B
// pyramid, all partitions, 4 slices, temporal direct) equal `ffmpeg -debug mb_type+qp`.
TEST(AvcDecode, MacroblockTypesAndQpMatchFfmpegDebug) {
    std::string yuv;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc2=size=176x144:rate=25 -vf scroll=h=0.02:v=0.01,noise=alls=8:allf=t "
        "-frames:v 14 -pix_fmt yuv420p -f rawvideo {out}",
        "yuv", &yuv));
    const std::string yuvName = yuv.substr(yuv.find_last_of("/\\") + 1);
    for (const char* options :
         {"--crf 26 --partitions all --ref 3", "--crf 30 --slices 4 --direct temporal --aq-mode 2"}) {
        SCOPED_TRACE(options);
        std::string stream;
        ASSERT_TRUE(testsupport::MediaFixture(
            std::string("x264 --quiet --profile main ") + options + " --input-res 176x144 --fps 25 -o {out} " + yuvName,
            "264", &stream));
        const std::string streamName = stream.substr(stream.find_last_of("/\\") + 1);
        std::string debug;
        ASSERT_TRUE(testsupport::MediaFixture(
            "ffmpeg -loglevel debug -threads 1 -debug mb_type+qp -i '" + streamName + "' -f null - 2> {out}", "txt",
            &debug));
        // ffmpeg's map: after each "New frame" line, one line per macroblock row.
        std::vector<std::vector<std::string>> reference;
        std::ifstream in(debug);
        int rowsLeft = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.find("New frame, type:") != std::string::npos) {
                reference.emplace_back();
                rowsLeft = 9;
                continue;
            }
            if (rowsLeft == 0) continue;
            // A row is QP-and-letter tokens only; other debug lines may come between.
            std::istringstream row(line.substr(line.find(']') + 1));
            std::vector<std::string> tokens;
            bool isRow = true;
            for (std::string token; row >> token;)
                isRow = isRow && std::isdigit(static_cast<unsigned char>(token[0])) &&
                        std::isdigit(static_cast<unsigned char>(token[token.size() - 1])) == 0,
                tokens.push_back(token);
            if (!isRow || tokens.size() != 11) continue;
            --rowsLeft;
            reference.back().insert(reference.back().end(), tokens.begin(), tokens.end());
        }
        std::vector<std::vector<std::string>> ours;
        avcdec::AvcDecoderContext* ctx = avcdec::AvcDecoderCreate();
        const std::vector<uint8_t> bytes = ReadFile(stream);
        auto take = [&](int code) {
            if (code != avcdec::kStepPictureReady) return;
            const avcdec::PictureRecord* pic = ctx->readyPicture;
            ours.emplace_back();
            for (int32_t n = 0; n < ctx->mbCount; ++n)
                ours.back().push_back(std::to_string(pic->mbInfo[n].qp) + DebugLetters(pic->mbInfo[n]));
            avcdec::AvcDecoderReleasePicture(ctx->readyPicture);
            ctx->readyPicture = nullptr;
        };
        // A start code after the last byte ends the last NAL unit; the end of the stream
        // drains the store.
        std::vector<uint8_t> data = bytes;
        data.insert(data.end(), {0, 0, 1});
        size_t accepted = 0;
        avcdec::AvcDecoderPushData(ctx, data.data(), avcdec::kNoTimeStamp, data.size(), &accepted);
        for (int code = -1, guard = 0; code != avcdec::kStepNeedData && code >= -1 && guard < 10000; ++guard) {
            code = avcdec::AvcDecoderDecodeByteStream(ctx);
            take(code);
        }
        avcdec::AvcDecoderEndOfStream(ctx);
        for (int guard = 0; guard < 1000; ++guard) {
            const int code = avcdec::AvcDecoderDecodeByteStream(ctx);
            take(code);
            if (code == avcdec::kStepPictureReady) continue;
            if (code != avcdec::kStepConsumed || !ctx->draining) break;
        }
        avcdec::AvcDecoderDestroy(ctx);
        ASSERT_EQ(ours.size(), 14u);
        ASSERT_EQ(reference.size(), ours.size());
        int differ = 0;
        for (size_t f = 0; f < ours.size(); ++f) {
            ASSERT_EQ(reference[f].size(), ours[f].size()) << "frame " << f;
            for (size_t m = 0; m < ours[f].size(); ++m) {
                // Skipped and direct macroblocks: ffmpeg adds the partition its direct
                // prediction chose, which is no syntax; compare their kind and QP alone.
                const std::string& r = reference[f][m];
                const std::string& o = ours[f][m];
                const bool direct = o.back() == 'd' || o.back() == 'D';
                const std::string cut = direct ? r.substr(0, o.size()) : r;
                if (cut != o && ++differ <= 5)
                    ADD_FAILURE() << "frame " << f << " mb " << m << ": ffmpeg " << r << ", ours " << o;
            }
        }
        EXPECT_EQ(differ, 0);
    }
}

// Vectors far outside the picture (a scrolling picture searched over a wide range, all
// partition sizes), pushed whole and in odd-sized pieces.
TEST(AvcDecode, X264FarVectorsMatchFfmpeg) {
    std::string yuv;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc2=size=352x288:rate=25 -vf scroll=h=0.03:v=0.02,noise=alls=6:allf=t "
        "-frames:v 16 -pix_fmt yuv420p -f rawvideo {out}",
        "yuv", &yuv));
    const std::string yuvName = yuv.substr(yuv.find_last_of("/\\") + 1);
    const X264Stream x =
        MakeX264Stream(yuvName, "352x288",
                       "--profile main --no-cabac --bframes 0 --qp 30 --ref 4 --me esa --merange 128 --partitions all");
    for (size_t chunk : {size_t{0}, size_t{4093}}) {
        const Decoded d = Decode(x.bytes, chunk);
        EXPECT_EQ(d.md5s, x.reference) << "chunk " << chunk;
    }
}

// The NAL units of an Annex B byte stream, each with its start code.
std::vector<std::vector<uint8_t>> SplitNalUnits(const std::vector<uint8_t>& s) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 2 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) starts.push_back(i);
    std::vector<std::vector<uint8_t>> out;
    for (size_t k = 0; k < starts.size(); ++k)
        out.emplace_back(s.begin() + static_cast<ptrdiff_t>(starts[k]),
                         s.begin() + static_cast<ptrdiff_t>(k + 1 < starts.size() ? starts[k + 1] : s.size()));
    return out;
}

// The pictures of a decode marked damaged; every other one must be a frame of the
// reference decode.
int CountDamagedCheckingTheRest(const Decoded& d, const std::vector<std::string>& reference) {
    int damaged = 0;
    for (size_t i = 0; i < d.md5s.size(); ++i) {
        if (d.damage[i] != 0) {
            ++damaged;
            continue;
        }
        EXPECT_NE(std::find(reference.begin(), reference.end(), d.md5s[i]), reference.end())
            << "frame " << i << " delivered as good but not a frame of the stream";
    }
    return damaged;
}

// Damaged CAVLC and CABAC streams, with P pictures only and with B pyramids: a lost IDR
// picture, a lost reference picture, a slice cut in half, random byte flips. Nothing
// crashes or hangs, and every frame the core delivers as good is a frame of the intact
// stream (P and B pictures predicted from lost ones are marked damaged).
TEST(AvcDecode, DamagedStreamsDeliverNoWrongFrameAsGood) {
    const std::string yuvName = FadingSource("352x288", 12);
    // Under the thread sanitizer a few rounds of byte flips show the worker meeting damage,
    // at both chunk sizes.
    const int flipRounds = testsupport::kThreadSanitizer ? 6 : 40;
    for (const char* pictures : {"--bframes 0", "--bframes 3 --b-pyramid normal --weightb"}) {
        for (const char* entropy : {"--no-cabac", "--cabac"}) {
            SCOPED_TRACE(std::string(pictures) + " " + entropy);
            const X264Stream x =
                MakeX264Stream(yuvName, "352x288",
                               std::string("--profile main --keyint 6 --min-keyint 6 --no-scenecut --ref 3 --crf 24 ") +
                                   pictures + " " + entropy);
            ASSERT_EQ(x.reference.size(), 12u);
            const auto nals = SplitNalUnits(x.bytes);
            std::vector<size_t> refSlices;  // one slice per picture here
            int pictureCount = 0;
            for (size_t i = 0; i < nals.size(); ++i) {
                const int type = nals[i][3] & 31;
                if (type != 1 && type != 5) continue;
                ++pictureCount;
                if ((nals[i][3] & 0x60) != 0) refSlices.push_back(i);
            }
            ASSERT_EQ(pictureCount, 12);
            ASSERT_GE(refSlices.size(), 5u);
            struct Case {
                const char* name;
                size_t reference;  // the reference picture hit, in decoding order
                bool cut;          // cut in half rather than dropped
                int damaged;       // pictures marked damaged at least
            };
            const size_t late = refSlices.size() - 2;
            for (const Case& c : {Case{"lost IDR", 0, false, 5}, Case{"lost reference", 2, false, 1},
                                  Case{"cut IDR", 0, true, 6}, Case{"cut reference", late, true, 1}}) {
                SCOPED_TRACE(c.name);
                const size_t hit = refSlices[c.reference];
                std::vector<uint8_t> damaged;
                for (size_t i = 0; i < nals.size(); ++i) {
                    if (i == hit && !c.cut) continue;
                    const size_t keep = i == hit ? nals[i].size() / 2 : nals[i].size();
                    damaged.insert(damaged.end(), nals[i].begin(), nals[i].begin() + static_cast<ptrdiff_t>(keep));
                }
                const Decoded d = Decode(damaged);
                EXPECT_GE(CountDamagedCheckingTheRest(d, x.reference), c.damaged);
                EXPECT_GE(d.md5s.size(), 10u);  // the second and third group of pictures come out
            }
            // Byte flips anywhere behind the parameter sets: the decode ends, with at most one
            // picture per NAL unit, whatever it yields.
            uint64_t state = 0x5EED;
            for (int round = 0; round < flipRounds; ++round) {
                std::vector<uint8_t> flipped = x.bytes;
                for (int k = 0; k < 8; ++k) {
                    state = state * 6364136223846793005ull + 1442695040888963407ull;
                    const size_t at = 64 + static_cast<size_t>(state >> 33) % (flipped.size() - 64);
                    flipped[at] ^= static_cast<uint8_t>(1u << ((state >> 20) & 7));
                }
                const Decoded d = Decode(flipped, round % 2 ? 4093 : 0);
                EXPECT_LE(d.md5s.size(), SplitNalUnits(flipped).size()) << "round " << round;
            }
        }
    }
}

// Tuning in to an open group of pictures at its recovery point (an I picture that is not
// IDR): the B pictures after it in decoding order but before it in output order predict
// from pictures the decoder never saw, and are marked damaged; every picture delivered as
// good is a frame of the stream, and from the I picture on all are.
TEST(AvcDecode, OpenGopTuneInMarksLeadingPicturesDamaged) {
    const std::string yuvName = FadingSource("352x288", 16);
    for (const char* entropy : {"--no-cabac", "--cabac"}) {
        SCOPED_TRACE(entropy);
        const X264Stream x = MakeX264Stream(
            yuvName, "352x288",
            std::string("--profile main --open-gop --keyint 8 --min-keyint 8 --no-scenecut --bframes 3 --crf 24 ") +
                entropy);
        ASSERT_EQ(x.reference.size(), 16u);
        const auto nals = SplitNalUnits(x.bytes);
        // The parameter sets, then everything from the recovery point's SEI on (payload type
        // 6 first in its NAL unit, as x264 writes it).
        std::vector<uint8_t> tuned;
        size_t recovery = 0;
        for (size_t i = 0; i < nals.size() && recovery == 0; ++i) {
            const int type = nals[i][3] & 31;
            if (type == 7 || type == 8) tuned.insert(tuned.end(), nals[i].begin(), nals[i].end());
            if (type == 6 && nals[i].size() > 4 && nals[i][4] == 6) recovery = i;
        }
        ASSERT_GT(recovery, 0u);
        for (size_t i = recovery; i < nals.size(); ++i)
            tuned.insert(tuned.end(), nals[i].begin(), nals[i].end());
        const Decoded d = Decode(tuned);
        ASSERT_GE(d.md5s.size(), 8u);
        EXPECT_GE(CountDamagedCheckingTheRest(d, x.reference), 1) << "leading B pictures";
        // The last eight frames, from the I picture on, come out exactly.
        const std::vector<std::string> tail(d.md5s.end() - 8, d.md5s.end());
        EXPECT_EQ(tail, std::vector<std::string>(x.reference.end() - 8, x.reference.end()));
    }
}

// Streams that allow fields but code frame pictures only (x264 --fake-interlaced: CAVLC,
// CABAC, 3:2 pulldown, temporal direct with weights, 1080 rows cropped in units of four):
// every frame equals ffmpeg's and none is damaged.
TEST(AvcDecode, FrameCodedInterlacedStreamsMatchFfmpeg) {
    struct Case {
        const char* size;
        int frames;
        const char* options;
    };
    const Case cases[] = {{"352x288", 16, "--no-cabac"},
                          {"352x288", 16, "--cabac --b-pyramid normal"},
                          {"352x288", 16, "--pulldown 32 --fps 24000/1001"},
                          {"352x288", 16, "--direct temporal --weightp 2 --ref 4"},
                          {"1920x1080", 3, "--preset ultrafast"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.size) + " " + c.options);
        const X264Stream x = MakeX264Stream(FadingSource(c.size, c.frames), c.size,
                                            std::string("--profile main --fake-interlaced ") + c.options);
        ASSERT_EQ(x.reference.size(), static_cast<size_t>(c.frames));
        const Decoded d = Decode(x.bytes);
        EXPECT_EQ(d.md5s, x.reference);
        EXPECT_EQ(d.damagedSlices, 0);
        for (int32_t damage : d.damage)
            EXPECT_EQ(damage, 0);
    }
}

// Moving fields woven into frames (top field first): x264 codes them as frame and field
// macroblock pairs.
std::string InterlacedSource(const std::string& size, int frames) {
    std::string yuv;
    EXPECT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc2=size=" + size +
                                              ":rate=50 -vf scroll=h=0.013:v=0.011,noise=alls=6:allf=t,"
                                              "tinterlace=mode=interleave_top -frames:v " +
                                              std::to_string(frames) + " -pix_fmt yuv420p -f rawvideo {out}",
                                          "yuv", &yuv));
    return yuv.substr(yuv.find_last_of("/\\") + 1);
}

// MBAFF streams (x264 --interlaced): CAVLC and CABAC, B pyramids, implicit weights, spatial
// and temporal direct, every partition size: every frame equals ffmpeg's and none is
// damaged; copies with bytes flipped behind the parameter sets end with at most one
// picture per NAL unit.
TEST(AvcDecode, MbaffStreamsMatchFfmpeg) {
    const std::string yuv = InterlacedSource("352x288", 12);
    for (const char* options : {"--no-cabac --bframes 2", "--cabac --bframes 3 --b-pyramid normal --ref 4",
                                "--no-cabac --bframes 2 --direct temporal --ref 3",
                                "--cabac --bframes 2 --weightb --partitions all --direct spatial"}) {
        SCOPED_TRACE(options);
        const X264Stream x =
            MakeX264Stream(yuv, "352x288", std::string("--profile main --interlaced --tff ") + options);
        ASSERT_EQ(x.reference.size(), 12u);
        const Decoded d = Decode(x.bytes);
        EXPECT_EQ(d.md5s, x.reference);
        EXPECT_EQ(d.damagedSlices, 0);
        for (int32_t damage : d.damage)
            EXPECT_EQ(damage, 0);
        uint64_t state = 0x1A7E;
        for (int round = 0; round < (testsupport::kThreadSanitizer ? 3 : 12); ++round) {
            std::vector<uint8_t> flipped = x.bytes;
            for (int k = 0; k < 8; ++k) {
                state = state * 6364136223846793005ull + 1442695040888963407ull;
                const size_t at = 64 + static_cast<size_t>(state >> 33) % (flipped.size() - 64);
                flipped[at] ^= static_cast<uint8_t>(1u << ((state >> 20) & 7));
            }
            EXPECT_LE(Decode(flipped).md5s.size(), SplitNalUnits(flipped).size()) << "round " << round;
        }
    }
}

// The interlaced conformance streams (JM: field pictures, picture-adaptive frame/field,
// MBAFF, MBAFF with picture-adaptive frame/field) decode to their expected MD5 (display
// order, one copy of each frame) with no picture damaged.
TEST(AvcDecode, InterlacedConformanceStreams) {
    std::ifstream list(ConformancePath("../h264-interlaced/expected.tsv"));
    // Field pictures, picture-adaptive frame/field with slices, MBAFF with slices and no
    // deblocking, MBAFF with reference B pictures, both adaptive forms together.
    const std::vector<std::string> threadSanitizerSet = {
        "field_cabac_b2_ref3_wp_576.264", "paff_cabac_b2_ref4_bref_wpimpl_slices_288.264",
        "mbaff_cabac_b1_ref2_dfoff_slices_288.264", "mbaff_cabac_b2_ref3_bref_480.264",
        "paffmbaff_cabac_b1_ref4_temporal_288.264"};
    std::string line;
    std::getline(list, line);  // heading
    int streams = 0;
    int decoded = 0;
    while (std::getline(list, line)) {
        const std::string name = line.substr(0, line.find('\t'));
        if (name.empty()) continue;
        ++streams;
        if (!DecodedUnderEveryConfiguration(name, threadSanitizerSet)) continue;
        SCOPED_TRACE(name);
        ++decoded;
        ExpectWholeMd5(ReadFile(ConformancePath("../h264-interlaced/" + name)),
                       line.substr(line.find_last_of('\t') + 1));
    }
    EXPECT_EQ(streams, 16);
    EXPECT_EQ(decoded, testsupport::kThreadSanitizer ? 5 : 16);
}

// A stream whose sequence parameter set changes size and cropping (1920x1080 from 1088
// rows, then 352x288 uncropped, both as set 0): every picture is cropped by its own set,
// and equals ffmpeg's decode of its half.
TEST(AvcDecode, EveryPictureKeepsItsOwnCropping) {
    const X264Stream hd =
        MakeX264Stream(FadingSource("1920x1080", 3), "1920x1080", "--profile main --preset ultrafast");
    const X264Stream cif = MakeX264Stream(FadingSource("352x288", 4), "352x288", "--profile main --bframes 2");
    std::vector<uint8_t> joined = hd.bytes;
    joined.insert(joined.end(), cif.bytes.begin(), cif.bytes.end());
    std::vector<std::pair<int32_t, int32_t>> sizes;
    std::vector<std::string> md5s;
    tools::DecodeByteStream(joined, 0, [&](const tools::DecodedFrame& f) {
        sizes.emplace_back(f.width, f.height);
        md5s.push_back(FrameMd5(f));
    });
    std::vector<std::string> expected = hd.reference;
    expected.insert(expected.end(), cif.reference.begin(), cif.reference.end());
    EXPECT_EQ(md5s, expected);
    ASSERT_EQ(sizes.size(), 7u);
    for (size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], i < 3 ? std::make_pair(1920, 1080) : std::make_pair(352, 288)) << "picture " << i;
}

// A decode that yields nothing says why: a High-profile stream by its profile's name, a
// stream without slices as such.
TEST(AvcDecode, NothingDecodedSaysWhy) {
    const X264Stream high = MakeX264Stream(FadingSource("176x144", 2), "176x144", "--profile high");
    int frames = 0;
    const tools::DecodeSummary refused =
        tools::DecodeByteStream(high.bytes, 0, [&](const tools::DecodedFrame&) { ++frames; });
    EXPECT_EQ(frames, 0);
    EXPECT_EQ(refused.frames, 0);
    EXPECT_EQ(tools::NothingDecodedReason(refused),
              "High profile (profile_idc 100) is not decoded: only Baseline, Main and Extended streams are");
    EXPECT_NE(refused.refusal.find("profile"), std::string::npos) << refused.refusal;
    const tools::DecodeSummary empty =
        tools::DecodeByteStream(std::vector<uint8_t>(64, 0), 0, [&](const tools::DecodedFrame&) { ++frames; });
    EXPECT_EQ(empty.frames, 0);
    EXPECT_EQ(tools::NothingDecodedReason(empty), "the input holds no slice that could be decoded");
}

struct X264Case {
    const char* options;
    const char* ffmpegOptions;  // for the reference decode
};

TEST(AvcDecode, X264BaselineIntraMatchesFfmpeg) {
    std::string yuv;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 6 -pix_fmt yuv420p -f rawvideo {out}", "yuv",
        &yuv));
    const std::string yuvName = yuv.substr(yuv.find_last_of("/\\") + 1);
    const X264Case cases[] = {
        {"--qp 10", ""},
        {"--qp 28", ""},
        {"--qp 45", ""},
        {"--qp 51", ""},
        {"--crf 20 --slices 4", ""},
        {"--crf 20 --constrained-intra", ""},
        {"--crf 20 --no-deblock", ""},
        {"--crf 20 --no-deblock", "-skip_loop_filter all"},
        {"--crf 20 --deblock -3:2", ""},
        {"--crf 20 --deblock 6:6", ""},
    };
    for (const X264Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " / " + c.ffmpegOptions);
        std::string stream;
        ASSERT_TRUE(testsupport::MediaFixture(std::string("x264 --quiet --profile baseline --keyint 1 ") + c.options +
                                                  " --input-res 352x288 --fps 25 -o {out} " + yuvName,
                                              "264", &stream));
        const std::string streamName = stream.substr(stream.find_last_of("/\\") + 1);
        const std::vector<std::string> reference = FfmpegFrameMd5s(streamName, c.ffmpegOptions);
        // Pushed in odd-sized pieces too: NAL units split across pushes decode the same.
        for (size_t chunk : {size_t{0}, size_t{4093}}) {
            const Decoded d = Decode(ReadFile(stream), chunk);
            EXPECT_EQ(d.md5s, reference) << "chunk " << chunk;
        }
    }
}

// A stream larger than its stated level allows (level 3 at 1280x720) and one that states
// level 1b in Baseline (constraint_set3_flag) decode as ffmpeg decodes them.
TEST(AvcDecode, StreamsBeyondTheirLevelDecode) {
    struct Case {
        const char* size;
        const char* level;
    };
    for (const Case& c : {Case{"1280x720", "3"}, Case{"176x144", "1b"}}) {
        SCOPED_TRACE(std::string(c.size) + " level " + c.level);
        std::string yuv;
        ASSERT_TRUE(testsupport::MediaFixture(std::string("ffmpeg -f lavfi -i testsrc2=size=") + c.size +
                                                  ":rate=25 -frames:v 2 -pix_fmt yuv420p -f rawvideo {out}",
                                              "yuv", &yuv));
        const std::string yuvName = yuv.substr(yuv.find_last_of("/\\") + 1);
        std::string stream;
        ASSERT_TRUE(testsupport::MediaFixture(std::string("x264 --quiet --profile baseline --keyint 1 --level ") +
                                                  c.level + " --input-res " + c.size + " --fps 25 -o {out} " + yuvName,
                                              "264", &stream));
        const std::string streamName = stream.substr(stream.find_last_of("/\\") + 1);
        const std::vector<std::string> reference = FfmpegFrameMd5s(streamName);
        const Decoded d = Decode(ReadFile(stream));
        ASSERT_EQ(reference.size(), 2u);
        EXPECT_EQ(d.md5s, reference);
    }
}

// The pictures come out in the order ffprobe reports (coded_picture_number in output order).
TEST(AvcDecode, OutputOrderFollowsPictureOrderCount) {
    std::string yuv;
    ASSERT_TRUE(testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 40 -pix_fmt yuv420p -f rawvideo {out}", "yuv",
        &yuv));
    const std::string yuvName = yuv.substr(yuv.find_last_of("/\\") + 1);
    for (const char* options :
         {"--profile main --bframes 3 --b-pyramid normal --keyint 20",
          "--profile main --bframes 2 --b-pyramid none --ref 4 --keyint 15 --open-gop",
          "--profile baseline --ref 3 --keyint 12 --partitions all --slices 2",
          "--profile main --no-cabac --bframes 3 --b-pyramid normal --ref 3 --weightb --keyint 20"}) {
        SCOPED_TRACE(options);
        std::string stream;
        ASSERT_TRUE(testsupport::MediaFixture(
            std::string("x264 --quiet ") + options + " --input-res 176x144 --fps 25 -o {out} " + yuvName, "264",
            &stream));
        const std::string streamName = stream.substr(stream.find_last_of("/\\") + 1);
        const std::string listName = testsupport::UniqueName("order") + ".txt";
        ASSERT_EQ(testsupport::RunShell("ffprobe -v error -show_entries frame=coded_picture_number -of csv=p=0 '" +
                                        streamName + "' > '" + listName + "'"),
                  0);
        std::istringstream in(testsupport::ReadFixtureFile(listName));
        std::vector<int32_t> reference;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty()) reference.push_back(std::stoi(line));
        }
        const Decoded d = Decode(ReadFile(stream));
        EXPECT_EQ(d.decodeOrder, reference);
        // Slices of every kind, CABAC and CAVLC, are read to their end.
        EXPECT_EQ(d.damagedSlices, 0);
    }
}

// A P picture that arrives before any reference picture: its list holds nothing, and its
// skipped macroblocks must not be predicted from the picture being decoded itself. The
// slice fails and the picture comes out damaged.
TEST(AvcDecode, PPictureWithoutReferencesFails) {
    using testsupport::NalBuilder;
    NalBuilder sps(0x67);  // Baseline, 32x32, POC type 0, one reference frame
    sps.U(8, 66).U(8, 0).U(8, 30).Ue(0).Ue(0).Ue(0).Ue(0).Ue(1).U(1, 0).Ue(1).Ue(1).U(1, 1).U(1, 1).U(1, 0).U(1, 0);
    NalBuilder pps(0x68);  // one active reference, deblocking filter control present
    pps.Ue(0).Ue(0).U(1, 0).U(1, 0).Ue(0).Ue(0).Ue(0).U(1, 0).U(2, 0).Se(0).Se(0).Se(0).U(1, 1).U(1, 0).U(1, 0);
    NalBuilder slice(0x41);  // non-IDR reference P slice, frame_num 0, four P_Skip macroblocks
    slice.Ue(0).Ue(5).Ue(0).U(4, 0).U(4, 0).U(1, 0).U(1, 0).U(1, 0).Se(0).Ue(1).Ue(4);
    std::vector<uint8_t> stream;
    for (const NalBuilder& b : {sps, pps, slice}) {
        const auto nal = b.AnnexB();
        stream.insert(stream.end(), nal.begin(), nal.end());
    }
    const Decoded d = Decode(stream);
    ASSERT_EQ(d.md5s.size(), 1u);
    EXPECT_NE(d.damage[0], 0);
    EXPECT_EQ(d.damagedSlices, 1);
}

// The byte stream of the NAL units into *stream, and ffmpeg's frame MD5s of it.
std::vector<std::string> FfmpegFrameMd5sOfNalUnits(const std::vector<testsupport::NalBuilder>& nals,
                                                   std::vector<uint8_t>* stream) {
    stream->clear();
    for (const testsupport::NalBuilder& b : nals) {
        const auto nal = b.AnnexB();
        stream->insert(stream->end(), nal.begin(), nal.end());
    }
    const std::string name = testsupport::UniqueName("slices") + ".264";
    {
        std::ofstream f(testsupport::FixturePath(name), std::ios::binary);
        f.write(reinterpret_cast<const char*>(stream->data()), static_cast<std::streamsize>(stream->size()));
    }
    std::vector<std::string> reference = FfmpegFrameMd5s(name);
    testsupport::RunShell("rm -f '" + name + "'");
    return reference;
}

// Decodes with the whole-picture deblocking pass alone, with each macroblock row filtered
// as early as allowed (the decoding thread waiting for it), and as the decoder runs: the
// three must agree frame for frame, damage included.
Decoded DecodeEveryWay(const std::vector<uint8_t>& stream) {
    using avcdec::RowDeblocking;
    avcdec::SetRowDeblocking(RowDeblocking::kWholePicture);
    const Decoded whole = Decode(stream);
    avcdec::SetRowDeblocking(RowDeblocking::kLockstep);
    const Decoded lockstep = Decode(stream);
    avcdec::SetRowDeblocking(RowDeblocking::kAlongside);
    const Decoded alongside = Decode(stream);
    EXPECT_EQ(lockstep.md5s, whole.md5s) << "rows filtered at once against the whole-picture pass";
    EXPECT_EQ(lockstep.damage, whole.damage);
    EXPECT_EQ(alongside.md5s, whole.md5s) << "rows filtered alongside against the whole-picture pass";
    EXPECT_EQ(alongside.damage, whole.damage);
    return lockstep;
}

// Slices of pictures 2 macroblocks wide at QP 51 whose Intra 16x16 macroblocks step by 14
// in a checkerboard, under pairings and mixes of disable_deblocking_filter_idc: the edges
// inside and across the slices are filtered or kept as ffmpeg does (clause 8.7, idc 1 and
// 2), two slices of a 2x2 picture, and three of a 2x4 picture whose later slices start
// inside a row (rows filtered as the picture is decoded: a row only once the row below
// it, which predicts from its unfiltered samples, is decoded).
TEST(AvcDecode, DeblockingAcrossSlicesMatchesFfmpeg) {
    using testsupport::NalBuilder;
    auto sps = [](int heightInMbs) {
        NalBuilder b(0x67);  // Baseline, 32 wide, POC type 0
        b.U(8, 66).U(8, 0).U(8, 30).Ue(0).Ue(0).Ue(0).Ue(0).Ue(1).U(1, 0).Ue(1).Ue(heightInMbs - 1);
        b.U(1, 1).U(1, 1).U(1, 0).U(1, 0);
        return b;
    };
    NalBuilder pps(0x68);  // deblocking filter control present
    pps.Ue(0).Ue(0).U(1, 0).U(1, 0).Ue(0).Ue(0).Ue(0).U(1, 0).U(2, 0).Se(0).Se(0).Se(0).U(1, 1).U(1, 0).U(1, 0);
    auto slice = [](int firstMb, int endMb, int idc, int alpha, int beta) {
        NalBuilder b(0x65);
        b.Ue(firstMb).Ue(7).Ue(0).U(4, 0).Ue(0).U(4, 0).U(1, 0).U(1, 0).Se(25).Ue(idc);
        if (idc != 1) b.Se(alpha).Se(beta);
        for (int mb = firstMb; mb < endMb; ++mb) {
            // I_16x16 with DC prediction and no coded block pattern, chroma DC prediction,
            // then the luma DC block: one trailing one (+1 or -1) and no zeros.
            const bool positive = (mb % 2 + mb / 2) % 2 == 0;
            b.Ue(3).Ue(0).Se(0).U(2, 1).U(1, positive ? 0 : 1).U(1, 1);
        }
        return b;
    };
    struct Case {
        int heightInMbs;
        std::vector<int> idc;  // per slice: two slices of the 2x2 picture, three of the 2x4 one
        int alpha, beta;
    };
    const Case cases[] = {{2, {0, 0}, 0, 0},    {2, {0, 1}, 0, 0},    {2, {1, 0}, 0, 0},     {2, {0, 2}, 0, 0},
                          {2, {2, 0}, 0, 0},    {2, {2, 2}, 3, -2},   {2, {0, 0}, -6, 6},    {4, {0, 0, 0}, 0, 0},
                          {4, {0, 1, 0}, 0, 0}, {4, {1, 0, 2}, 0, 0}, {4, {2, 2, 2}, 2, -2}, {4, {0, 2, 1}, -3, 3},
                          {4, {1, 1, 1}, 0, 0}};
    std::vector<std::string> results;
    for (const Case& c : cases) {
        std::string trace = "height " + std::to_string(c.heightInMbs) + " idc";
        for (int idc : c.idc)
            trace += " " + std::to_string(idc);
        SCOPED_TRACE(trace + " offsets " + std::to_string(c.alpha) + "/" + std::to_string(c.beta));
        const std::vector<int> bounds = c.heightInMbs == 2 ? std::vector<int>{0, 2, 4} : std::vector<int>{0, 3, 5, 8};
        std::vector<NalBuilder> nals = {sps(c.heightInMbs), pps};
        for (size_t k = 0; k < c.idc.size(); ++k)
            nals.push_back(slice(bounds[k], bounds[k + 1], c.idc[k], c.alpha, c.beta));
        std::vector<uint8_t> stream;
        const std::vector<std::string> reference = FfmpegFrameMd5sOfNalUnits(nals, &stream);
        const Decoded d = DecodeEveryWay(stream);
        ASSERT_EQ(d.md5s.size(), 1u);
        EXPECT_EQ(d.damage[0], 0);
        EXPECT_EQ(d.md5s, reference);
        results.push_back(d.md5s[0]);
    }
    // The cases differ where the filter runs: every idc changes the picture.
    EXPECT_NE(results[0], results[1]);
    EXPECT_NE(results[0], results[2]);
    EXPECT_NE(results[0], results[3]);
    EXPECT_NE(results[1], results[3]);
    EXPECT_NE(results[7], results[12]);
}

// Pictures of four slices each (slice boundaries inside macroblock rows), CAVLC and CABAC,
// with slices lost, cut short, repeated and swapped: the row-by-row filtering gives the
// whole-picture pass's frames and damage. Swapped slices still give the intact picture;
// a slice that repeats macroblocks already decoded is refused and its picture damaged.
TEST(AvcDecode, RowDeblockingOfDamagedAndReorderedSlicesMatchesWholePicturePass) {
    const std::string yuvName = FadingSource("352x288", 4);
    for (const char* entropy : {"--no-cabac", "--cabac"}) {
        SCOPED_TRACE(entropy);
        const X264Stream x =
            MakeX264Stream(yuvName, "352x288",
                           std::string("--profile main --bframes 0 --keyint 4 --ref 2 --crf 26 --slices 4 ") + entropy);
        ASSERT_EQ(x.reference.size(), 4u);
        const auto nals = SplitNalUnits(x.bytes);
        std::vector<size_t> slices;
        for (size_t i = 0; i < nals.size(); ++i) {
            const int type = nals[i][3] & 31;
            if (type == 1 || type == 5) slices.push_back(i);
        }
        ASSERT_EQ(slices.size(), 16u);
        enum Op { kDrop, kCut, kRepeat, kSwap };
        struct Case {
            const char* name;
            size_t slice;  // index among the slices: picture slice / 4, its slice slice % 4
            Op op;
        };
        for (const Case& c :
             {Case{"lost middle slice", 5, kDrop}, Case{"first slice cut", 4, kCut}, Case{"last slice cut", 11, kCut},
              Case{"first slice repeated", 12, kRepeat}, Case{"third slice before the second", 9, kSwap}}) {
            SCOPED_TRACE(c.name);
            std::vector<uint8_t> damaged;
            auto append = [&](size_t i, size_t length) {
                damaged.insert(damaged.end(), nals[i].begin(), nals[i].begin() + static_cast<ptrdiff_t>(length));
            };
            const size_t hit = slices[c.slice];
            for (size_t i = 0; i < nals.size(); ++i) {
                if (i == hit && c.op == kDrop) continue;
                if (c.op == kSwap && (i == hit || i == hit + 1)) {
                    if (i == hit) append(hit + 1, nals[hit + 1].size()), append(hit, nals[hit].size());
                    continue;
                }
                append(i, i == hit && c.op == kCut ? nals[i].size() / 2 : nals[i].size());
                if (i == hit + 1 && c.op == kRepeat) append(hit, nals[hit].size());
            }
            const Decoded d = DecodeEveryWay(damaged);
            ASSERT_EQ(d.md5s.size(), 4u);
            const size_t picture = c.slice / 4;
            if (c.op == kSwap) {
                EXPECT_EQ(d.md5s, x.reference);
            } else {
                EXPECT_NE(d.damage[picture], 0);
            }
            for (size_t i = 0; i < picture; ++i)
                EXPECT_EQ(d.md5s[i], x.reference[i]) << "frame " << i;
        }
    }
}

// MD5 of a 352x288 picture handed out by the core, as FrameMd5 hashes a cropped frame.
std::string PictureMd5(avcdec::AvcDecoderContext* ctx, const avcdec::PictureRecord* pic) {
    avcdec::PictureInfo info{};
    EXPECT_EQ(avcdec::AvcDecoderGetPictureInfo(ctx, pic, &info), 0);
    tools::Md5 md5;
    for (int32_t y = 0; y < 288; ++y)
        md5.Update(info.y + y * info.pitch, 352);
    for (const uint8_t* plane : {info.u, info.v})
        for (int32_t y = 0; y < 144; ++y)
            md5.Update(plane + y * info.pitch, 176);
    return md5.HexDigest();
}

// Resetting and destroying a decoder in the middle of a picture whose rows the worker is
// filtering: the reset decoder decodes the next IDR picture exactly, and destruction ends
// (under the sanitizers: without touching freed pictures).
TEST(AvcDecode, ResetAndDestroyMidPicture) {
    const std::string yuvName = FadingSource("352x288", 4);
    const X264Stream x = MakeX264Stream(
        yuvName, "352x288", "--profile main --no-cabac --bframes 0 --keyint 2 --min-keyint 2 --crf 26 --slices 4");
    ASSERT_EQ(x.reference.size(), 4u);
    const auto nals = SplitNalUnits(x.bytes);
    std::vector<uint8_t> head, tail;  // up to two slices into the second picture; from the third picture
    int slicesSeen = 0;
    for (const auto& nal : nals) {
        const int type = nal[3] & 31;
        if (type == 1 || type == 5) ++slicesSeen;
        std::vector<uint8_t>& to = slicesSeen <= 6 ? head : tail;
        if (type == 7 || type == 8 || slicesSeen <= 6 || slicesSeen > 8) to.insert(to.end(), nal.begin(), nal.end());
    }
    auto feed = [](avcdec::AvcDecoderContext* ctx, std::vector<uint8_t> bytes, std::vector<std::string>* md5s) {
        bytes.insert(bytes.end(), {0, 0, 1});  // ends the last NAL unit
        size_t accepted = 0;
        avcdec::AvcDecoderPushData(ctx, bytes.data(), avcdec::kNoTimeStamp, bytes.size(), &accepted);
        for (int step = 0; step != avcdec::kStepNeedData;) {
            step = avcdec::AvcDecoderDecodeByteStream(ctx);
            if (step == avcdec::kStepPictureReady) {
                avcdec::PictureRecord* pic = ctx->readyPicture;
                ctx->readyPicture = nullptr;
                if (md5s != nullptr) md5s->push_back(PictureMd5(ctx, pic));
                avcdec::AvcDecoderReleasePicture(pic);
            }
            if (step < 0) break;
        }
    };
    avcdec::AvcDecoderContext* ctx = avcdec::AvcDecoderCreate();
    ASSERT_NE(ctx, nullptr);
    feed(ctx, head, nullptr);
    ASSERT_EQ(avcdec::AvcDecoderReset(ctx), 0);
    std::vector<std::string> md5s;
    feed(ctx, tail, &md5s);
    avcdec::AvcDecoderEndOfStream(ctx);
    for (int step = 0; step == 0 || step == avcdec::kStepPictureReady;) {
        step = avcdec::AvcDecoderDecodeByteStream(ctx);
        if (step == avcdec::kStepPictureReady) {
            md5s.push_back(PictureMd5(ctx, ctx->readyPicture));
            avcdec::AvcDecoderReleasePicture(ctx->readyPicture);
            ctx->readyPicture = nullptr;
        }
    }
    EXPECT_EQ(md5s, std::vector<std::string>(x.reference.begin() + 2, x.reference.end()));
    // Destroyed with the first two slices of a picture decoded.
    avcdec::AvcDecoderContext* other = avcdec::AvcDecoderCreate();
    ASSERT_NE(other, nullptr);
    feed(other, head, nullptr);
    avcdec::AvcDecoderDestroy(other);
    avcdec::AvcDecoderDestroy(ctx);
}

}  // namespace

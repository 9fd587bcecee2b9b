// The encoder through its facade, judged by FFmpeg: every stream decodes without a
// message to exactly the reconstruction the encoder kept, and ffprobe reads the picture
// types the scheduler chose, in display order.
#include "tools/encode.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace ombrisk_tools {
namespace {

std::string Clip(const std::string& graph, int frames) {
    std::string path;
    EXPECT_TRUE(testsupport::MediaFixture("ffmpeg -nostdin -v error -f lavfi -i '" + graph + "' -frames:v " +
                                              std::to_string(frames) + " -pix_fmt yuv420p -f yuv4mpegpipe {out}",
                                          "y4m", &path));
    return path;
}

// Codes `clip` with `o` and judges the stream; returns the report.
EncodeReport Judge(const std::string& clip, EncodeOptions o) {
    const std::string stem = testsupport::UniqueName("enc");
    o.input = clip;
    o.output = testsupport::FixturePath(stem + ".264");
    o.reconstruction = testsupport::FixturePath(stem + ".rec");
    EncodeReport report;
    std::string error;
    EXPECT_EQ(RunEncode(o, &report, &error), 0) << error;
    EXPECT_EQ(testsupport::RunShell("ffmpeg -nostdin -v error -threads 1 -i " + stem +
                                    ".264 -f rawvideo -pix_fmt yuv420p -y " + stem + ".dec 2> " + stem + ".log"),
              0);
    EXPECT_EQ(testsupport::ReadFixtureFile(stem + ".log"), "");
    const std::string decoded = testsupport::ReadFixtureFile(stem + ".dec");
    const std::string reconstruction = testsupport::ReadFixtureFile(stem + ".rec");
    EXPECT_FALSE(reconstruction.empty());
    EXPECT_TRUE(decoded == reconstruction) << "decoded " << decoded.size() << " bytes, kept " << reconstruction.size();
    EXPECT_EQ(testsupport::RunShell("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 " + stem + ".264 > " +
                                    stem + ".types"),
              0);
    std::string types;
    for (char c : testsupport::ReadFixtureFile(stem + ".types"))
        if (c == 'I' || c == 'P' || c == 'B') types += c;
    EXPECT_EQ(types, report.types);
    testsupport::RunShell("rm -f " + stem + ".264 " + stem + ".rec " + stem + ".dec " + stem + ".log " + stem +
                          ".types");
    return report;
}

constexpr const char* kTestsrc176 = "testsrc2=size=176x144:rate=25";
// Moving content, then a cut to different content.
constexpr const char* kCut176 =
    "testsrc2=size=176x144:rate=25,scroll=h=0.01,trim=end_frame=9[a];"
    "mandelbrot=size=176x144:rate=25,trim=end_frame=9,setpts=PTS-STARTPTS[b];[a][b]concat=n=2";

TEST(Encode, SettingsMatrixDecodesToTheReconstruction) {
    struct Case {
        const char* name;
        const char* graph;
        int frames, gop, bFrames, refs, slices, level, qp;
    } cases[] = {
        {"GOP 12, two B pictures", kTestsrc176, 16, 12, 2, 1, 1, 0, 26},
        {"no B pictures, four references, two slices", kTestsrc176, 10, 5, 0, 4, 2, 1, 30},
        {"odd size, one B picture, four slices, level 2", "testsrc2=size=202x122:rate=25", 9, 0, 1, 2, 4, 2, 22},
        {"scene cut inside B runs", kCut176, 18, 30, 2, 2, 1, 1, 28},
        {"I pictures only", kTestsrc176, 4, 1, 2, 1, 8, 0, 34},
        {"sixteen references, three B pictures", kTestsrc176, 12, 0, 3, 16, 1, 0, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string clip = Clip(c.graph, c.frames);
        ASSERT_FALSE(clip.empty());
        EncodeOptions o;
        o.gop = c.gop;
        o.bFrames = c.bFrames;
        o.refs = c.refs;
        o.slices = c.slices;
        o.level = c.level;
        o.qp = c.qp;
        const EncodeReport r = Judge(clip, o);
        EXPECT_EQ(r.pictures, c.frames);
        EXPECT_EQ(int64_t(r.codingOrder.size()), c.frames);
    }
}

TEST(Encode, SceneCutBecomesAnIPicture) {
    const std::string clip = Clip(kCut176, 18);
    ASSERT_FALSE(clip.empty());
    EncodeOptions o;
    o.gop = 0;
    o.bFrames = 0;
    const EncodeReport withCut = Judge(clip, o);
    EXPECT_EQ(withCut.types, "IPPPPPPPPIPPPPPPPP");
    o.sceneDetect = 0;
    EXPECT_EQ(Judge(clip, o).types, "IPPPPPPPPPPPPPPPPP");
}

// The bit-rate modes on moving content: the stream decodes to the reconstruction and its
// rate is within 10% of the target; a frame rate of 1 and black pictures code without a
// stall or a failure.
TEST(Encode, BitRateModes) {
    const std::string clip = Clip("mandelbrot=size=352x288:rate=25", 50);
    ASSERT_FALSE(clip.empty());
    for (int mode : {2, 3})
        for (int rate : {300000, 1000000}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", " << rate << " bit/s");
            EncodeOptions o;
            o.rateMode = mode;
            o.bitRate = rate;
            o.gop = 25;
            o.level = 0;
            const EncodeReport r = Judge(clip, o);
            EXPECT_NEAR(double(r.bytes) * 8 * 25 / double(r.pictures) / rate, 1.0, 0.1);
        }
    const std::string black = Clip("color=black:size=176x144:rate=1", 40);
    ASSERT_FALSE(black.empty());
    EncodeOptions o;
    o.rateMode = 3;
    o.bitRate = 1000000;
    o.fps100 = 100;
    EXPECT_EQ(Judge(black, o).pictures, 40);
}

// Slices coded on eight threads give the same stream as on one; so do the picture-level
// parts the threads share (coarse searches of three references, the loop filter's planes,
// the downscale and half-sample plane by bands), which the decode judges.
TEST(Encode, SliceThreadsDoNotChangeTheStream) {
    const std::string clip = Clip("testsrc2=size=352x288:rate=25,scroll=h=0.01", 6);
    ASSERT_FALSE(clip.empty());
    EncodeOptions o;
    o.slices = 8;
    o.bFrames = 1;
    o.refs = 3;
    o.level = 1;
    std::string streams[2];
    for (int i = 0; i < 2; ++i) {
        o.threads = i ? 8 : 1;
        o.input = clip;
        o.output = testsupport::FixturePath("threads.264");
        EncodeReport r;
        std::string error;
        ASSERT_EQ(RunEncode(o, &r, &error), 0) << error;
        streams[i] = testsupport::ReadFixtureFile("threads.264");
    }
    EXPECT_FALSE(streams[0].empty());
    EXPECT_TRUE(streams[0] == streams[1]);
    o.threads = 8;
    Judge(clip, o);
}

TEST(Encode, RefusesBadInput) {
    EncodeOptions o;
    EncodeReport r;
    std::string error;
    o.input = testsupport::FixturePath("missing.y4m");
    o.output = testsupport::FixturePath("missing.264");
    EXPECT_NE(RunEncode(o, &r, &error), 0);
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    ASSERT_EQ(testsupport::RunShell("printf 'YUV4MPEG2 W17 H16 F25:1\\n' > odd.y4m"), 0);
    o.input = testsupport::FixturePath("odd.y4m");
    EXPECT_NE(RunEncode(o, &r, &error), 0);
    EXPECT_NE(error.find("size"), std::string::npos) << error;
}

}  // namespace
}  // namespace ombrisk_tools

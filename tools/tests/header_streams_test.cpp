// The headers the encoder core writes, judged by FFmpeg: every field of every parameter
// set, SEI and slice header as its trace_headers filter reads it, ffprobe's view of the
// stream, and the decoded pictures of the streams whose macroblocks it can decode.
#include "tools/header_streams.h"

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/encoder/core/param_sets.h"
#include "tests/support/shell.h"
#include "tests/support/trace_headers.h"

namespace ombrisk_tools {

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.name;
}

namespace {

using ombrisk::TracedField;
using ombrisk::TracedNal;

struct ReadUnit {
    int nalUnitType = -1;
    std::vector<TracedField> fields;  // position relative to the RBSP after the header
};

// Units of the trace_headers log that belong to packets (the extradata repeats the first
// parameter sets); the SEI messages' headings belong to their SEI unit. Any unit the
// filter failed to read is reported through `failures`.
std::vector<ReadUnit> ParseTrace(const std::string& log, std::vector<std::string>* failures) {
    static const std::set<std::string> unitTitles = {"Sequence Parameter Set", "Picture Parameter Set",
                                                     "Supplemental Enhancement Information", "Slice Header"};
    const testsupport::Trace trace = testsupport::ParseTraceHeaders(log);
    *failures = trace.failures;
    std::vector<ReadUnit> units;
    for (const testsupport::TraceSection& s : trace.sections) {
        if (!s.inPacket) continue;
        if (unitTitles.count(s.heading)) units.push_back({});
        if (units.empty()) continue;
        for (const testsupport::TraceField& f : s.fields) {
            if (f.name == "nal_unit_type") units.back().nalUnitType = static_cast<int>(f.value);
            if (f.name == "forbidden_zero_bit" || f.name == "nal_ref_idc" || f.name == "nal_unit_type") continue;
            units.back().fields.push_back({static_cast<uint32_t>(f.bitPos - 8), f.name, f.value});
        }
    }
    return units;
}

std::string Describe(const TracedField& f) {
    std::ostringstream s;
    s << f.bitPos << " " << f.name << " = " << f.value;
    return s.str();
}

// Builds the case's stream into a fresh fixture file; `name` is its stem (".264" added).
testing::AssertionResult WriteCase(const HeaderCase& c, const std::string& stem, WrittenStream* stream,
                                   std::string* name) {
    std::string error;
    if (!BuildHeaderStream(c, stream, &error)) return testing::AssertionFailure() << error;
    *name = testsupport::UniqueName(stem + "_" + c.name);
    std::ofstream out(testsupport::FixturePath(*name + ".264"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(stream->bytes.data()), static_cast<std::streamsize>(stream->bytes.size()));
    if (!out) return testing::AssertionFailure() << "cannot write " << *name;
    return testing::AssertionSuccess();
}

class HeaderStreams : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderStreams, FfmpegReadsEveryFieldAsWritten) {
    const HeaderCase& c = GetParam();
    WrittenStream stream;
    std::string name;
    ASSERT_TRUE(WriteCase(c, "headers", &stream, &name));
    std::string log;
    ASSERT_TRUE(testsupport::RunTraceHeaders(name + ".264", &log));

    std::vector<std::string> failures;
    const auto read = ParseTrace(log, &failures);
    EXPECT_TRUE(failures.empty()) << failures.front();
    ASSERT_EQ(read.size(), stream.nals.size());
    for (size_t u = 0; u < read.size(); ++u) {
        SCOPED_TRACE(testing::Message() << "NAL unit " << u << " type " << stream.nals[u].nalUnitType);
        EXPECT_EQ(read[u].nalUnitType, stream.nals[u].nalUnitType);
        const auto& mine = stream.nals[u].fields;
        const auto& theirs = read[u].fields;
        for (size_t i = 0; i < std::max(mine.size(), theirs.size()); ++i) {
            const std::string want = i < mine.size() ? Describe(mine[i]) : "(nothing)";
            const std::string got = i < theirs.size() ? Describe(theirs[i]) : "(nothing)";
            ASSERT_EQ(got, want) << "field " << i;
        }
    }
}

// What ffprobe must report, typed from the settings of each case.
struct ProbeExpectation {
    const char* profile;
    int level;
    const char* sar;
    const char* frameRate;
};
const std::map<std::string, ProbeExpectation> kProbe = {
    {"baseline_auto", {"Baseline", 11, "12:11", "25/1"}}, {"main_cavlc_hrd_vbr_slices", {"Main", 30, "12:11", "25/1"}},
    {"main_cabac_b2", {"Main", 30, "64:45", "25/1"}},     {"extended_crop_cbr", {"Extended", 20, "40:33", "2997/100"}},
    {"main_1080p50_slices", {"Main", 42, "1:1", "50/1"}}, {"baseline_no_vui", {"Baseline", 11, "N/A", "25/1"}},
    {"main_interlaced", {"Main", 30, "N/A", "2997/100"}}, {"main_cabac_hrd_deblock_off", {"Main", 13, "1:1", "15/1"}},
};

TEST_P(HeaderStreams, FfprobeSeesTheSettings) {
    const HeaderCase& c = GetParam();
    ASSERT_EQ(kProbe.count(c.name), 1u) << c.name;
    const ProbeExpectation& want = kProbe.at(c.name);
    WrittenStream stream;
    std::string name;
    ASSERT_TRUE(WriteCase(c, "probe", &stream, &name));
    EXPECT_EQ(stream.level, want.level);
    ASSERT_EQ(testsupport::RunShell("ffprobe -v quiet -show_entries "
                                    "stream=profile,level,width,height,sample_aspect_ratio,r_frame_rate "
                                    "-of default=noprint_wrappers=1 " +
                                    name + ".264 > " + name + ".probe"),
              0);
    const std::string probe = testsupport::ReadFixtureFile(name + ".probe");
    std::ostringstream expected;
    expected << "profile=" << want.profile << "\n"
             << "width=" << c.width << "\nheight=" << c.height << "\n"
             << "sample_aspect_ratio=" << want.sar << "\n"
             << "level=" << want.level << "\n"
             << "r_frame_rate=" << want.frameRate << "\n";
    EXPECT_EQ(probe, expected.str());
}

// CAVLC streams are fully decodable: no decoder complaint, every picture out at the input's
// size, and the first picture (I_PCM) exactly the samples written.
class DecodableStreams : public testing::TestWithParam<HeaderCase> {};

std::vector<HeaderCase> CavlcCases() {
    std::vector<HeaderCase> cases;
    for (const HeaderCase& c : HeaderMatrix()) {
        if (c.params[ombrisk::kParCabac] == 0) cases.push_back(c);
    }
    return cases;
}

TEST_P(DecodableStreams, DecodeCleanly) {
    const HeaderCase& c = GetParam();
    WrittenStream stream;
    std::string name;
    ASSERT_TRUE(WriteCase(c, "decode", &stream, &name));
    ASSERT_EQ(testsupport::RunShell(
                  "ffmpeg -v error -nostdin -i " + name + ".264 -f rawvideo -pix_fmt yuv420p -y " + name + ".yuv",
                  name + ".log"),
              0);
    EXPECT_EQ(testsupport::ReadFixtureFile(name + ".log"), "");
    const std::string yuv = testsupport::ReadFixtureFile(name + ".yuv");
    const size_t frameBytes = static_cast<size_t>(c.width) * c.height * 3 / 2;
    ASSERT_EQ(yuv.size(), frameBytes * static_cast<size_t>(c.pictures));
    int wrong = 0;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const int want = 16 + (x + y) % 200;
            wrong += static_cast<uint8_t>(yuv[static_cast<size_t>(y) * c.width + x]) != want;
        }
    }
    EXPECT_EQ(wrong, 0);
}

std::string CaseName(const testing::TestParamInfo<HeaderCase>& info) {
    return info.param.name;
}
INSTANTIATE_TEST_SUITE_P(Matrix, HeaderStreams, testing::ValuesIn(HeaderMatrix()), CaseName);
INSTANTIATE_TEST_SUITE_P(Cavlc, DecodableStreams, testing::ValuesIn(CavlcCases()), CaseName);

}  // namespace
}  // namespace ombrisk_tools

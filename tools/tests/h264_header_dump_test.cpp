// The header dump against ffmpeg's trace of the same stream: every parameter-set and
// SEI field the decoder keeps must have ffmpeg's value, in ffmpeg's order.
#include "tools/h264_header_dump.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "filters/decoder/core/tests/nal_builder.h"
#include "filters/decoder/core/tests/x264_fixtures.h"
#include "tests/support/shell.h"

namespace {

// Structures compared, by ffmpeg's heading, and the fields of theirs that the decoder
// does not keep (NAL header, reserved bits, alignment, the unused initial CPB delays).
const std::set<std::string> kCompared = {"Sequence Parameter Set", "Picture Parameter Set", "Buffering Period",
                                         "Picture Timing"};
bool Ignored(const std::string& name) {
    static const std::set<std::string> names = {
        "forbidden_zero_bit",      "nal_ref_idc",          "nal_unit_type",       "constraint_set3_flag",
        "constraint_set4_flag",    "constraint_set5_flag", "reserved_zero_2bits", "rbsp_stop_one_bit",
        "rbsp_alignment_zero_bit", "bit_equal_to_one",     "bit_equal_to_zero"};
    return names.count(name) != 0 ||
           (name.rfind("initial_cpb_removal_delay", 0) == 0 && name.find("_length_") == std::string::npos);
}

// "Heading" and "name = value" lines of the compared structures from ffmpeg's trace.
// ffmpeg first traces the parameter sets it took as extradata, then every packet: only the
// packets are the stream in order.
std::string FromTrace(const std::string& trace) {
    std::istringstream in(trace);
    std::string out;
    bool inside = false;
    bool packets = false;
    for (std::string line; std::getline(in, line);) {
        const size_t tag = line.find("[trace_headers @ ");
        if (tag == std::string::npos) continue;
        line = line.substr(line.find("] ", tag) + 2);
        const size_t eq = line.rfind(" = ");
        if (eq == std::string::npos) {
            if (line.rfind("Packet:", 0) == 0) packets = true;
            inside = packets && kCompared.count(line) != 0;
            if (inside) out += line + "\n";
            continue;
        }
        if (!inside) continue;
        std::istringstream fields(line.substr(0, eq));
        std::string position, name;
        fields >> position >> name;
        if (!Ignored(name)) out += name + " = " + line.substr(eq + 3) + "\n";
    }
    return out;
}

// The dump of `stream` equals ffmpeg's trace of it.
void ExpectSameAsTrace(const std::string& stem, const std::vector<uint8_t>& stream) {
    // The same stream through ffmpeg's trace; the fixture's file is found by content.
    const std::string name = testsupport::UniqueName(stem) + ".264";
    {
        std::ofstream f(testsupport::FixturePath(name), std::ios::binary);
        f.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    const std::string log = name + ".trace";
    ASSERT_EQ(testsupport::RunShell("ffmpeg -nostdin -hide_banner -loglevel debug -i '" + name +
                                    "' -c copy -bsf:v trace_headers -f null - 2> '" + log + "'"),
              0);
    const std::string expected = FromTrace(testsupport::ReadFixtureFile(log));
    ASSERT_NE(expected.find("Sequence Parameter Set"), std::string::npos);
    std::string dump;
    tools::DumpH264Headers(stream.data(), stream.size(), &dump);
    EXPECT_EQ(dump, expected);
    testsupport::RunShell("rm -f '" + name + "' '" + log + "'");
}

TEST(H264HeaderDump, MatchesFfmpegTraceHeaders) {
    for (const auto& c : avcdec_test::X264Cases()) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> stream;
        ASSERT_TRUE(avcdec_test::MakeX264Stream(c, &stream));
        ExpectSameAsTrace(c.name, stream);
    }
}

// Clock time stamps (x264 writes none): pic_struct without timing information or HRD, a
// partial time stamp with its seconds and minutes flags and a 24-bit time_offset, before
// a picture of I_PCM macroblocks.
TEST(H264HeaderDump, ClockTimestampsMatchFfmpegTraceHeaders) {
    using avcdec_test::NalBuilder;
    NalBuilder sps(0x67);
    sps.u(8, 66).u(8, 0xC0).u(8, 30).ue(0).ue(0).ue(2).ue(1).u(1, 0).ue(10).ue(8).u(1, 1).u(1, 1).u(1, 0).u(1, 1);
    sps.u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 1).u(1, 0);
    NalBuilder pps(0x68);
    pps.ue(0).ue(0).u(1, 0).u(1, 0).ue(0).ue(0).ue(0).u(1, 0).u(2, 0).se(0).se(0).se(0).u(1, 1).u(1, 0).u(1, 0);
    NalBuilder timing(0);
    timing.u(4, 0).u(1, 1).u(2, 1).u(1, 0).u(5, 0).u(1, 0).u(1, 0).u(1, 0).u(8, 5);
    timing.u(1, 1).u(6, 7).u(1, 1).u(6, 8).u(1, 0).u(24, 3).u(1, 1).align();
    std::vector<uint8_t> payload = timing.Raw();
    payload.erase(payload.begin());
    NalBuilder sei(0x06);
    sei.u(8, 1).u(8, payload.size()).bytes(payload);
    NalBuilder slice(0x65);
    slice.ue(0).ue(7).ue(0).u(4, 0).ue(0).u(1, 0).u(1, 0).se(0).ue(1);
    for (int mb = 0; mb < 99; ++mb) {
        slice.ue(25).align();
        for (int i = 0; i < 384; ++i)
            slice.u(8, 128);
    }
    std::vector<uint8_t> stream;
    for (const NalBuilder* b : {&sps, &pps, &sei, &slice}) {
        const auto nal = b->AnnexB();
        stream.insert(stream.end(), nal.begin(), nal.end());
    }
    ExpectSameAsTrace("clock", stream);
}

// A refusal names its reason, and the reason belongs to its own set.
TEST(H264HeaderDump, RefusalsNameTheirReason) {
    using avcdec_test::NalBuilder;
    NalBuilder high(0x67);
    high.u(8, 100).u(8, 0).u(8, 30).ue(0).ue(1).ue(0).ue(0).ue(0).ue(0).u(1, 0);
    NalBuilder wide(0x67);  // a 8208-sample wide Baseline set
    wide.u(8, 66).u(8, 0).u(8, 30).ue(0).ue(0).ue(2).ue(1).u(1, 0).ue(512).ue(8).u(1, 1).u(1, 1).u(1, 0).u(1, 0);
    std::vector<uint8_t> stream;
    for (const NalBuilder* b : {&high, &wide}) {
        const auto nal = b->AnnexB();
        stream.insert(stream.end(), nal.begin(), nal.end());
    }
    std::string dump;
    tools::DumpH264Headers(stream.data(), stream.size(), &dump);
    EXPECT_EQ(dump,
              "Sequence Parameter Set\n"
              "refused: profile_idc 100 is not Baseline, Main or Extended\n"
              "Sequence Parameter Set\n"
              "refused: a value out of range or a missing parameter set\n");
}

}  // namespace

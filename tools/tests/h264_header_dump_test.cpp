// The header dump against ffmpeg's trace of the same stream: every parameter-set and
// SEI field the decoder keeps must have ffmpeg's value, in ffmpeg's order.
#include "tools/h264_header_dump.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "filters/decoder/core/tests/x264_fixtures.h"
#include "tests/support/shell.h"
#include "tests/support/trace_headers.h"

namespace {

// Structures compared, by ffmpeg's heading, and the fields of theirs that the decoder
// does not keep (NAL header, alignment, the unused initial CPB delays).
const std::set<std::string> kCompared = {"Sequence Parameter Set", "Picture Parameter Set", "Buffering Period",
                                         "Picture Timing"};
bool Ignored(const std::string& name) {
    static const std::set<std::string> names = {"forbidden_zero_bit",     "nal_ref_idc",      "nal_unit_type",
                                                "rbsp_stop_one_bit",      "bit_equal_to_one", "bit_equal_to_zero",
                                                "rbsp_alignment_zero_bit"};
    return names.count(name) != 0 ||
           (name.rfind("initial_cpb_removal_delay", 0) == 0 && name.find("_length_") == std::string::npos);
}

// "Heading" and "name = value" lines of the compared structures of the stream's packets
// (ffmpeg first traces the parameter sets it took as extradata: only the packets are the
// stream in order).
std::string FromTrace(const std::string& log) {
    std::string out;
    for (const testsupport::TraceSection& s : testsupport::ParseTraceHeaders(log).sections) {
        if (!s.inPacket || kCompared.count(s.heading) == 0) continue;
        out += s.heading + "\n";
        for (const testsupport::TraceField& f : s.fields) {
            if (Ignored(f.name)) continue;
            // ffmpeg's one name that differs from the syntax table's.
            const std::string name =
                f.name == "gaps_in_frame_num_allowed_flag" ? "gaps_in_frame_num_value_allowed_flag" : f.name;
            out += name + " = " + std::to_string(f.value) + "\n";
        }
    }
    return out;
}

TEST(H264HeaderDump, MatchesFfmpegTraceHeaders) {
    // Besides the decoder's cases, HRDs whose bit_rate_value_minus1 and cpb_size_value_minus1
    // take ue(v) codes of 16 and more leading zeros (5 and 20 Mbit/s), and one that does not.
    std::vector<avcdec_test::X264Case> cases = avcdec_test::X264Cases();
    cases.insert(cases.end(),
                 {{"hrd_1m", "352x288", "--profile main --nal-hrd vbr --vbv-maxrate 1000 --vbv-bufsize 1000"},
                  {"hrd_5m", "352x288", "--profile main --nal-hrd vbr --vbv-maxrate 5000 --vbv-bufsize 5000"},
                  {"hrd_20m", "352x288", "--profile main --nal-hrd vbr --vbv-maxrate 20000 --vbv-bufsize 20000"}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> stream;
        ASSERT_TRUE(avcdec_test::MakeX264Stream(c, &stream));
        // The same stream through ffmpeg's trace; the fixture's file is found by content.
        const std::string name = testsupport::UniqueName(c.name) + ".264";
        {
            std::ofstream f(testsupport::FixturePath(name), std::ios::binary);
            f.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
        }
        std::string log;
        ASSERT_TRUE(testsupport::RunTraceHeaders(name, &log));
        const std::string expected = FromTrace(log);
        ASSERT_NE(expected.find("Sequence Parameter Set"), std::string::npos);
        std::string dump;
        tools::DumpH264Headers(stream.data(), stream.size(), &dump);
        EXPECT_EQ(dump, expected);
        testsupport::RunShell("rm -f '" + name + "'");
    }
}

}  // namespace

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

TEST(H264HeaderDump, MatchesFfmpegTraceHeaders) {
    for (const auto& c : avcdec_test::X264Cases()) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> stream;
        ASSERT_TRUE(avcdec_test::MakeX264Stream(c, &stream));
        // The same stream through ffmpeg's trace; the fixture's file is found by content.
        const std::string name = testsupport::UniqueName(c.name) + ".264";
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
}

}  // namespace

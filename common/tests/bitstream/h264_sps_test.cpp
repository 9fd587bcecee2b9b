// The sequence parameter set parser against ffmpeg's trace_headers: every element of x264's
// sets (HRDs at 1, 5 and 20 Mbit/s among them) and of sets written here with values at the
// ends of their ranges; and every cut of a set refused unless what is left is a whole set.
#include "common/bitstream/h264_sps.h"

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/bitstream/emulation_prevention.h"
#include "common/bitstream/start_code.h"
#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/nal_builder.h"
#include "tests/support/shell.h"
#include "tests/support/trace_headers.h"

namespace common {
namespace {

using Bytes = std::vector<uint8_t>;
using Fields = std::vector<std::pair<std::string, int64_t>>;
using testsupport::NalBuilder;

// The RBSP behind the header byte of a NAL unit (without start code).
Bytes RbspOf(std::span<const uint8_t> nal) {
    if (nal.empty()) return {};
    Bytes rbsp(nal.size());
    const EscapeResult r = RemoveEmulationPrevention(nal.subspan(1), rbsp);
    rbsp.resize(r.written);
    return rbsp;
}

Fields FieldsOf(const H264Sps& sps) {
    Fields fields;
    VisitH264SpsFields(sps, [&](const std::string& name, int64_t value) { fields.emplace_back(name, value); });
    return fields;
}

std::string Describe(const Fields& fields) {
    std::string text;
    for (const auto& [name, value] : fields)
        text += name + " = " + std::to_string(value) + "\n";
    return text;
}

// ffmpeg's reading of the first sequence parameter set of an Annex B stream: its
// elements, without the NAL header and the trailing bits, under the syntax tables' names.
::testing::AssertionResult TraceFirstSps(const Bytes& stream, Fields* fields) {
    const std::string name = testsupport::UniqueName("sps") + ".264";
    {
        std::ofstream out(testsupport::FixturePath(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    // ffmpeg traces the set, then ends with an error when no picture follows: its
    // status says nothing here, the traced set does.
    std::string log;
    (void)testsupport::RunTraceHeaders(name, &log, "-f h264");
    testsupport::RunShell("rm -f '" + name + "'");
    const testsupport::Trace trace = testsupport::ParseTraceHeaders(log);
    for (const testsupport::TraceSection& s : trace.sections) {
        if (s.heading != "Sequence Parameter Set") continue;
        fields->clear();
        for (const testsupport::TraceField& f : s.fields) {
            if (f.name == "forbidden_zero_bit" || f.name == "nal_ref_idc" || f.name == "nal_unit_type" ||
                f.name == "rbsp_stop_one_bit" || f.name == "rbsp_alignment_zero_bit")
                continue;
            // ffmpeg's one name that differs from the syntax table's.
            fields->emplace_back(
                f.name == "gaps_in_frame_num_allowed_flag" ? "gaps_in_frame_num_value_allowed_flag" : f.name, f.value);
        }
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "ffmpeg traced no sequence parameter set:\n" << log;
}

// The first SPS NAL unit (from its header byte) of an Annex B stream.
Bytes FirstSpsNal(const Bytes& stream) {
    const uint8_t* cursor = stream.data();
    const uint8_t* end = stream.data() + stream.size();
    for (;;) {
        const std::span<const uint8_t> nal = NextNalUnit(&cursor, end);
        if (nal.empty()) return {};
        if ((nal[0] & 0x1F) == 7) return Bytes(nal.begin(), nal.end());
    }
}

::testing::AssertionResult MakeX264Stream(const std::string& options, Bytes* stream) {
    std::string yuv, file;
    auto made = testsupport::MediaFixture(
        "ffmpeg -f lavfi -i testsrc=size=352x288:rate=25 -frames:v 3 -pix_fmt yuv420p -f rawvideo {out}", "yuv", &yuv);
    if (!made) return made;
    made = testsupport::MediaFixture(
        "x264 --quiet " + options + " --input-res 352x288 --frames 3 -o {out} " + testsupport::FixtureName(yuv), "264",
        &file);
    if (!made) return made;
    *stream = testsupport::ReadFileBytes(file);
    return ::testing::AssertionSuccess();
}

// The sets written here, at the ends of the ranges: POC type 1 offsets whose codes have
// 16 to 31 leading zeros, the largest HRD of 32 CPBs with values up to 2^32 - 2, and 4:4:4
// with every scaling list, some ending early and one asking for the default matrix.
Bytes LongCodesSps() {
    NalBuilder b(0x67);
    b.U(8, 77).U(8, 0).U(8, 40).Ue(3).Ue(0).Ue(1);
    b.U(1, 0).Se(2147483647).Se(-2147483647).Ue(4);
    for (const int64_t offset : {65535, -65536, 100000, -3})
        b.Se(offset);
    b.Ue(4).U(1, 1).Ue(21).Ue(17).U(1, 1).U(1, 1).U(1, 0);
    b.U(1, 1);                                  // vui_parameters_present_flag
    b.U(1, 0).U(1, 0).U(1, 0).U(1, 0).U(1, 0);  // no aspect, overscan, signal, chroma, timing
    b.U(1, 1).Ue(31).U(4, 15).U(4, 15);         // nal_hrd: 32 CPBs
    for (int i = 0; i < 32; ++i)
        b.Ue(i == 31 ? 4294967294u : 65535u + i).Ue(4294967294u - i).U(1, i & 1);
    b.U(5, 31).U(5, 0).U(5, 17).U(5, 31);
    b.U(1, 0).U(1, 1).U(1, 0).U(1, 0);  // no vcl_hrd, low_delay, no pic_struct, no restriction
    return b.AnnexB();
}

Bytes ScalingListsSps() {
    NalBuilder b(0x67);
    b.U(8, 244).U(8, 0).U(8, 51).Ue(0).Ue(3).U(1, 1).Ue(2).Ue(4).U(1, 0).U(1, 1);
    for (int i = 0; i < 12; ++i) {
        b.U(1, i % 4 != 3);
        if (i % 4 == 3) continue;
        const int size = i < 6 ? 16 : 64;
        if (i == 1) {
            b.Se(-8);  // nextScale 0 at once: the default matrix
            continue;
        }
        int nextScale = 8;
        for (int j = 0; j < size && nextScale != 0; ++j) {
            // List 2 returns to 0 at its sixth entry: the rest repeat the last scale.
            const int delta = i == 2 && j == 5 ? -nextScale : j % 2 ? 3 : -2;
            b.Se(delta);
            nextScale = (nextScale + delta + 256) % 256;
        }
    }
    b.Ue(0).Ue(2).Ue(1).U(1, 0).Ue(10).Ue(8).U(1, 0).U(1, 1).U(1, 1).U(1, 1).Ue(1).Ue(2).Ue(3).Ue(4).U(1, 0);
    return b.AnnexB();
}

TEST(H264SpsTest, EveryElementAsFfmpegReadsIt) {
    struct Case {
        const char* name;
        std::string x264Options;  // empty: `written` is the stream
        Bytes written;
    };
    const Case cases[] = {
        {"high, HRD 1 Mbit/s", "--nal-hrd vbr --vbv-maxrate 1000 --vbv-bufsize 1000", {}},
        {"high, HRD 5 Mbit/s", "--nal-hrd vbr --vbv-maxrate 5000 --vbv-bufsize 5000", {}},
        {"high, HRD 20 Mbit/s", "--nal-hrd vbr --vbv-maxrate 20000 --vbv-bufsize 20000", {}},
        {"main, CBR HRD 5 Mbit/s",
         "--profile main --nal-hrd cbr --bitrate 5000 --vbv-maxrate 5000 --vbv-bufsize 5000",
         {}},
        {"4:4:4 interlaced", "--output-csp i444 --profile high444 --interlaced --sar 16:11", {}},
        {"baseline, cropped", "--profile baseline --crop-rect 2,4,6,8 --fps 30000/1001", {}},
        {"long Exp-Golomb codes", "", LongCodesSps()},
        {"scaling lists", "", ScalingListsSps()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream = c.written;
        if (!c.x264Options.empty()) {
            ASSERT_TRUE(MakeX264Stream(c.x264Options, &stream));
        }
        const Bytes nal = FirstSpsNal(stream);
        ASSERT_FALSE(nal.empty());
        H264Sps sps{};
        const SpsResult result = ParseH264Sps(RbspOf(nal), &sps);
        ASSERT_EQ(result, SpsResult::kOk) << static_cast<int>(result);
        Fields theirs;
        ASSERT_TRUE(TraceFirstSps(stream, &theirs));
        EXPECT_EQ(Describe(FieldsOf(sps)), Describe(theirs));
    }
}

TEST(H264SpsTest, LongCodesKeepTheirValues) {
    H264Sps s{};
    ASSERT_EQ(ParseH264Sps(RbspOf(FirstSpsNal(LongCodesSps())), &s), SpsResult::kOk);
    EXPECT_EQ(s.offset_for_non_ref_pic, 2147483647);
    EXPECT_EQ(s.offset_for_top_to_bottom_field, -2147483647);
    EXPECT_EQ(s.offset_for_ref_frame[2], 100000);
    EXPECT_EQ(s.nal_hrd.cpb_cnt, 32);
    EXPECT_EQ(s.nal_hrd.bit_rate_value[31], 4294967295u);
    EXPECT_EQ(s.nal_hrd.cpb_size_value[0], 4294967295u);
    EXPECT_EQ(s.vcl_hrd.cpb_removal_delay_length_minus1, 0) << "lengths copied from the NAL HRD";
    EXPECT_EQ(s.vcl_hrd.time_offset_length, 31);
    EXPECT_EQ(s.low_delay_hrd_flag, 1);
}

// Every cut of a set, also one followed by trailing zero bytes: refused, unless the cut
// keeps the whole set (it drops only zero bytes after the stop bit), which then reads as
// the whole set does, which the test above holds against ffmpeg.
TEST(H264SpsTest, EveryCutIsRefusedUnlessTheSetIsWhole) {
    Bytes x264;
    ASSERT_TRUE(MakeX264Stream("--nal-hrd vbr --vbv-maxrate 5000 --vbv-bufsize 5000", &x264));
    Bytes padded = FirstSpsNal(LongCodesSps());
    padded.insert(padded.end(), {0, 0, 0});
    for (const Bytes& nal : {FirstSpsNal(x264), FirstSpsNal(ScalingListsSps()), padded}) {
        ASSERT_GT(nal.size(), 8u);
        const Bytes whole = RbspOf(nal);
        H264Sps full{};
        ASSERT_EQ(ParseH264Sps(whole, &full), SpsResult::kOk);
        size_t stopByte = whole.size();
        while (stopByte > 0 && whole[stopByte - 1] == 0)
            --stopByte;
        // A cut inside the VUI keeps the set before it, without the VUI.
        H264Sps withoutVui = full;
        withoutVui.vui_parameters_present_flag = 0;
        int accepted = 0, vuiDropped = 0;
        for (size_t length = 0; length < nal.size(); ++length) {
            SCOPED_TRACE(testing::Message() << "cut to " << length << " of " << nal.size() << " bytes");
            const Bytes rbsp = RbspOf(std::span<const uint8_t>(nal).first(length));
            H264Sps cut{};
            cut.profile_idc = -1;
            const SpsResult result = ParseH264Sps(rbsp, &cut);
            if (rbsp.size() >= stopByte) {
                ASSERT_EQ(result, SpsResult::kOk);
                EXPECT_EQ(Describe(FieldsOf(cut)), Describe(FieldsOf(full)));
                ++accepted;
            } else if (result == SpsResult::kVuiDropped) {
                EXPECT_EQ(Describe(FieldsOf(cut)), Describe(FieldsOf(withoutVui)));
                EXPECT_EQ(cut.timing_info_present_flag, 0);
                EXPECT_EQ(cut.nal_hrd.cpb_removal_delay_length_minus1, 23) << "inferred lengths";
                ++vuiDropped;
            } else {
                EXPECT_NE(result, SpsResult::kOk);
                EXPECT_EQ(cut.profile_idc, -1) << "a refused set writes nothing";
            }
        }
        EXPECT_EQ(accepted, static_cast<int>(whole.size() - stopByte));
        EXPECT_EQ(vuiDropped > 0, full.vui_parameters_present_flag != 0);
    }
}

TEST(H264SpsTest, RefusalsSayWhy) {
    // A Baseline set, 11 x 9 macroblocks, whose pieces the cases replace.
    struct Case {
        const char* name;
        uint32_t spsId = 0, numRefFrames = 4, cropRight = 0;
        bool invalidCode = false, extraBits = false;
        SpsResult expected;
        // With mvLength >= 0, a VUI of bitstream restrictions only: log2_max_mv_length_*
        // and max_num_reorder_frames (max_dec_frame_buffering is 2).
        int32_t mvLength = -1, reorderFrames = 0;
    };
    const Case cases[] = {
        {"valid", 0, 4, 0, false, false, SpsResult::kOk},
        {"seq_parameter_set_id 32", 32, 4, 0, false, false, SpsResult::kOutOfRange},
        {"max_num_ref_frames 17", 0, 17, 0, false, false, SpsResult::kOutOfRange},
        {"cropping every column", 0, 4, 88, false, false, SpsResult::kOutOfRange},
        {"a code of 32 leading zeros", 0, 4, 0, true, false, SpsResult::kCut},
        {"bits before the stop bit", 0, 4, 0, false, true, SpsResult::kTrailing},
        {"log2_max_mv_length 16", 0, 4, 0, false, false, SpsResult::kOk, 16},
        {"log2_max_mv_length 17", 0, 4, 0, false, false, SpsResult::kVuiDropped, 17},
        {"more reordering than buffering", 0, 4, 0, false, false, SpsResult::kVuiDropped, 15, 3},
        {"bits after the VUI", 0, 4, 0, false, true, SpsResult::kVuiDropped, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NalBuilder b(0x67);
        b.U(8, 66).U(8, 0).U(8, 30);
        if (c.invalidCode)
            b.U(32, 0).U(1, 1).U(32, 0);
        else
            b.Ue(c.spsId);
        b.Ue(0).Ue(2).Ue(c.numRefFrames).U(1, 0).Ue(10).Ue(8).U(1, 1).U(1, 1);
        b.U(1, c.cropRight != 0);
        if (c.cropRight != 0) b.Ue(0).Ue(c.cropRight).Ue(0).Ue(0);
        b.U(1, c.mvLength >= 0);
        if (c.mvLength >= 0) {
            b.U(5, 0).U(1, 0).U(1, 0).U(1, 0).U(1, 1);  // no aspect .. HRD, pic_struct
            b.U(1, 1).Ue(2).Ue(1).Ue(c.mvLength).Ue(c.mvLength).Ue(c.reorderFrames).Ue(2);
        }
        if (c.extraBits) b.U(3, 5);
        H264Sps s{};
        s.level_idc = -1;
        EXPECT_EQ(ParseH264Sps(RbspOf(b.Nal()), &s), c.expected);
        const bool kept = c.expected == SpsResult::kOk || c.expected == SpsResult::kVuiDropped;
        EXPECT_EQ(s.level_idc, kept ? 30 : -1);
        EXPECT_EQ(s.bitstream_restriction_flag, c.expected == SpsResult::kOk && c.mvLength >= 0);
        if (c.expected == SpsResult::kOk && c.mvLength >= 0) {
            EXPECT_EQ(s.log2_max_mv_length_vertical, c.mvLength);
        }
    }
}

}  // namespace
}  // namespace common

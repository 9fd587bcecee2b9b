// Clips for the join tests and the judges' helpers shared by them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ffprobe.h"
#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

namespace editor_test {

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An 8-second clip: moving test picture, a tone, GOPs with B pictures. One encoder thread:
// ffmpeg's slices and picture sizes follow its thread count, which otherwise follows the
// cores the test runs on, and the clip must be the same on every machine.
inline std::string Clip(const std::string& target, const std::string& size, const std::string& audio, int tone) {
    std::string path;
    const std::string cmd = "ffmpeg -f lavfi -i testsrc=size=" + size +
                            ":rate=25 -f lavfi -i sine=frequency=" + std::to_string(tone) +
                            ":sample_rate=48000 -t 8 -target " + target + " -aspect 4:3 " + audio + " -threads 1 {out}";
    EXPECT_TRUE(testsupport::MediaFixture(cmd, "mpg", &path));
    return path;
}

inline std::string Seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s);
    return buf;
}

// Runs a shell command in the fixture folder; its output, or "exit N" when it fails.
inline std::string Shell(const std::string& script) {
    const std::string log = testsupport::UniqueName("run") + ".log";
    const int status = testsupport::RunShell(script, log);
    std::string text = testsupport::ReadFixtureFile(log);
    if (status != 0) text += "exit " + std::to_string(status);
    return text;
}

// The audio and video streams that ffprobe finds, in order ("video audio"); the DVD
// navigation packs' data stream is left out.
inline std::string StreamKinds(const std::string& name) {
    const std::string text = Shell("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + name + "'");
    std::string kinds;
    for (const auto& row : testsupport::CsvRows(text)) {
        if (row.empty() || (row[0] != "video" && row[0] != "audio")) continue;
        kinds += (kinds.empty() ? "" : " ") + row[0];
    }
    return kinds;
}

// Counts the GOPs of an MPEG video elementary stream that start a clip (broken_link
// set), checking that each is closed and opens with an I picture at temporal_reference 0:
// no B picture that looked into the previous clip.
inline int CountClipStarts(const std::vector<uint8_t>& v) {
    int broken = 0;
    for (size_t i = 0; i + 16 < v.size(); ++i) {
        if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 1 || v[i + 3] != 0xB8) continue;
        if (!(v[i + 7] & 0x20)) continue;
        ++broken;
        EXPECT_TRUE(v[i + 7] & 0x40) << "broken_link without closed_gop at " << i;
        size_t p = i + 8;
        while (p + 6 < v.size() && !(v[p] == 0 && v[p + 1] == 0 && v[p + 2] == 1 && v[p + 3] == 0))
            ++p;
        EXPECT_LT(p + 6, v.size());
        if (p + 6 >= v.size()) break;
        EXPECT_EQ((v[p + 4] << 2) | (v[p + 5] >> 6), 0) << "temporal_reference of the first picture";
        EXPECT_EQ((v[p + 5] >> 3) & 7, 1) << "first picture of a clip is not an I picture";
    }
    return broken;
}

}  // namespace editor_test

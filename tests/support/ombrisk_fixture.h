// Test support: an H.264 program stream whose video our encoder core coded. ffmpeg makes
// the source pictures (a y4m file from `source`, an ffmpeg command line with {out}), the
// encoder core codes them, and ffmpeg puts the elementary stream into an MPEG-2 program
// stream (`-f vob`): our multiplexer carries H.264 only in transport streams. Made once per
// distinct request into the fixture folder, like MediaFixture's files. Tests that use it
// link `ombrisk_encode` besides `testsupport`.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"
#include "tools/encode.h"

namespace testsupport {

// `bFrames` consecutive B pictures, an IDR picture every `gop`; `frameRate` is the source's
// rate as ffmpeg writes it ("25", "30000/1001"). With B pictures ffmpeg's
// copy of a raw elementary stream carries no time stamps (it cannot order them), so the
// program stream's pictures are unstamped; without them each picture is stamped.
inline ::testing::AssertionResult OmbriskProgramStream(const std::string& source, const std::string& frameRate,
                                                       int bFrames, int gop, std::string* path) {
    std::string y4m;
    ::testing::AssertionResult made = MediaFixture(source, "y4m", &y4m);
    if (!made) return made;
    const std::string stem =
        y4m.substr(0, y4m.find_last_of('.')) + "-b" + std::to_string(bFrames) + "g" + std::to_string(gop);
    *path = stem + ".mpg";
    if (!ReadFileBytes(*path).empty()) return ::testing::AssertionSuccess();
    ombrisk_tools::EncodeOptions options;
    options.input = y4m;
    options.output = stem + ".264";
    options.bFrames = bFrames;
    options.gop = gop;
    options.cabac = true;
    options.threads = 1;
    ombrisk_tools::EncodeReport report;
    std::string error;
    if (ombrisk_tools::RunEncode(options, &report, &error) != 0)
        return ::testing::AssertionFailure() << "the encoder core refused the fixture: " << error;
    const std::string es = stem.substr(stem.find_last_of("/\\") + 1) + ".264";
    const std::string out = es.substr(0, es.size() - 4) + ".mpg";
    const std::string temp = UniqueName("ombrisk") + ".mpg";
    const std::string log = UniqueName("ombrisk") + ".log";
    const int status = RunShell("ffmpeg -nostdin -v error -y -framerate " + frameRate + " -i '" + es +
                                    "' -c copy -f vob '" + temp + "' && mv -f '" + temp + "' '" + out + "'",
                                log);
    if (status != 0 || ReadFileBytes(*path).empty())
        return ::testing::AssertionFailure() << "ffmpeg could not put the stream into a program stream:\n"
                                             << ReadFixtureFile(log);
    return ::testing::AssertionSuccess();
}

}  // namespace testsupport

// Media fixtures made at test time by the outside tools (ffmpeg, x264), once per distinct
// command line, into the build tree, and shared by every test that asks for the same one.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace testsupport {

// Makes the file that `command` writes and returns its path (in this process's platform
// form) through `path`. `command` is an ffmpeg or x264 command line in which {out}
// stands for the output file; `extension` is the output's file extension ("264", "yuv").
// A missing tool or a failing command is a test failure with the tool's message, never a
// skip.
//
//   std::string clip;
//   ASSERT_TRUE(MediaFixture("ffmpeg -f lavfi -i testsrc=size=176x144:rate=25 "
//                            "-frames:v 5 -pix_fmt yuv420p -f rawvideo {out}", "yuv", &clip));
::testing::AssertionResult MediaFixture(const std::string& command, const std::string& extension, std::string* path);

}  // namespace testsupport

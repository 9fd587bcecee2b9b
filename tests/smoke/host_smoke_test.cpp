// End-to-end check of the native path: a fixture made by ffmpeg at test time is read back
// with the size and content its command line promises.
#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media_fixture.h"
#include "tests/support/shell.h"

TEST(HostSmoke, FfmpegFixtureIsMadeOnceAndHasTheRequestedShape) {
    const std::string command =
        "ffmpeg -f lavfi -i color=c=white:size=64x48:rate=25 -frames:v 3 -pix_fmt yuv420p -f rawvideo {out}";
    std::string path;
    ASSERT_TRUE(testsupport::MediaFixture(command, "yuv", &path));

    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bytes.size(), 3u * 64 * 48 * 3 / 2);
    // White in limited-range BT.601: Y 235, Cb and Cr 128.
    EXPECT_EQ(bytes[0], 235);
    EXPECT_EQ(bytes[64 * 48], 128);

    std::string again;
    ASSERT_TRUE(testsupport::MediaFixture(command, "yuv", &again));
    EXPECT_EQ(again, path) << "one file per distinct command line";
}

TEST(HostSmoke, FailingFixtureCommandIsAFailureWithTheToolsMessage) {
    std::string path;
    const auto result = testsupport::MediaFixture("ffmpeg -f lavfi -i no_such_source {out}", "yuv", &path);
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find("no_such_source"), std::string::npos) << result.message();
    EXPECT_FALSE(testsupport::MediaFixture("x264 --version", "264", &path)) << "no {out}";
}

// Processes of separate Wine prefixes may share a process id: a scratch folder is never one
// that another process made.
TEST(HostSmoke, ClaimedFolderIsNeverOneThatExists) {
    const std::string name = testsupport::UniqueName("claims");
    const std::string parent = testsupport::FixturePath(name);
    ASSERT_EQ(testsupport::ClaimNewFolder(parent, "7"), "") << "no parent folder, no claim";
    ASSERT_EQ(testsupport::RunShell("mkdir -p '" + name + "/7.1'"), 0);
    // The first name made above; the stem taken next, then past the existing 7.1.
    EXPECT_EQ(testsupport::ClaimNewFolder(parent, "7"), "7");
    EXPECT_EQ(testsupport::ClaimNewFolder(parent, "7"), "7.2");
    EXPECT_EQ(testsupport::ClaimNewFolder(parent, "7"), "7.3");
    EXPECT_EQ(testsupport::ClaimNewFolder(parent, "8"), "8");
}

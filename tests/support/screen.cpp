#include "tests/support/screen.h"

#include <cstdio>

#include "tests/support/shell.h"

namespace testsupport {

::testing::AssertionResult CaptureScreen(const std::string& pngName) {
    const std::string log = UniqueName("capture") + ".log";
    const int status = RunShell("import -window root '" + pngName + "'", log);
    if (status != 0)
        return ::testing::AssertionFailure() << "screen capture failed (status " << status
                                             << ", DISPLAY from the test environment): " << ReadFixtureFile(log);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult PixelAt(const std::string& pngName, int x, int y, Rgb* rgb) {
    const std::string out = UniqueName("pixel") + ".txt";
    char fx[160];
    std::snprintf(fx, sizeof fx,
                  "%%[fx:int(255*p{%d,%d}.r+0.5)] %%[fx:int(255*p{%d,%d}.g+0.5)] %%[fx:int(255*p{%d,%d}.b+0.5)]", x, y,
                  x, y, x, y);
    const int status = RunShell("convert '" + pngName + "' -format '" + fx + "' info: >'" + out + "'");
    const std::string text = ReadFixtureFile(out);
    std::remove(FixturePath(out).c_str());
    if (status != 0 || std::sscanf(text.c_str(), "%d %d %d", &rgb->r, &rgb->g, &rgb->b) != 3)
        return ::testing::AssertionFailure() << "could not read pixel (" << x << "," << y << ") of " << pngName
                                             << ": status " << status << ", output '" << text << "'";
    return ::testing::AssertionSuccess();
}

}  // namespace testsupport

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

namespace {

// Runs an awk test over every pixel ("r", "g", "b" set) of the rectangle; the count of hits.
int CountPixels(const std::string& png, int x, int y, int width, int height, const std::string& test) {
    const std::string out = UniqueName("count") + ".txt";
    char crop[80];
    std::snprintf(crop, sizeof crop, "%dx%d+%d+%d", width, height, x, y);
    const int status = RunShell("convert '" + png + "' -crop " + crop +
                                " +repage -depth 8 txt:- | tail -n +2 | awk '{gsub(/[()]/,\"\",$2); "
                                "split($2,c,\",\"); r=c[1]; g=c[2]; b=c[3]; if (" +
                                test + ") n++} END {print n+0}' >'" + out + "'");
    const std::string text = ReadFixtureFile(out);
    std::remove(FixturePath(out).c_str());
    int n = -1;
    if (status != 0 || std::sscanf(text.c_str(), "%d", &n) != 1) return -1;
    return n;
}

}  // namespace

int CountKeyColourPixels(const std::string& pngName, int x, int y, int width, int height) {
    return CountPixels(pngName, x, y, width, height, "(r>180 && b>180 && g<110) || (g>180 && b>180 && r<110)");
}

int CountDarkPixels(const std::string& pngName, int x, int y, int width, int height, int level) {
    const std::string l = std::to_string(level);
    return CountPixels(pngName, x, y, width, height, "r<" + l + " && g<" + l + " && b<" + l);
}

int CountLightPixels(const std::string& pngName, int x, int y, int width, int height, int level) {
    const std::string l = std::to_string(level);
    return CountPixels(pngName, x, y, width, height, "r>" + l + " && g>" + l + " && b>" + l);
}

}  // namespace testsupport

// Test support for window tests: a capture of the X display the tests run on (what a
// person would see), and pixel reads from it. Uses ImageMagick on the Linux side.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace testsupport {

struct Rgb {
    int r = -1, g = -1, b = -1;
    bool operator==(const Rgb&) const = default;
};

// Captures the whole screen into `pngName` in the fixture folder.
::testing::AssertionResult CaptureScreen(const std::string& pngName);

// The colour of pixel (x, y) of a PNG in the fixture folder, read through `rgb`.
::testing::AssertionResult PixelAt(const std::string& pngName, int x, int y, Rgb* rgb);

}  // namespace testsupport

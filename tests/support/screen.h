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

// How many pixels of the rectangle (x, y, width, height) of a PNG in the fixture folder show a
// key colour or a blend of one: magenta-like (red and blue above 180, green below 110) or
// cyan-like (green and blue above 180, red below 110). -1 when the image cannot be read.
int CountKeyColourPixels(const std::string& pngName, int x, int y, int width, int height);
// How many pixels of that rectangle are darker than `level` in every channel.
int CountDarkPixels(const std::string& pngName, int x, int y, int width, int height, int level);
// How many pixels of that rectangle are lighter than `level` in every channel.
int CountLightPixels(const std::string& pngName, int x, int y, int width, int height, int level);

}  // namespace testsupport

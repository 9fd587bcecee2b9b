#include "app/services/image_check.h"

#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media_fixture.h"

namespace services {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes Fixture(const std::string& format) {
    std::string path;
    EXPECT_TRUE(testsupport::MediaFixture("ffmpeg -f lavfi -i testsrc=size=70x45:rate=1 -frames:v 1 -update 1 {out}",
                                          format, &path));
    return ReadAll(path);
}

TEST(ImageCheck, ReadsTheHeadersOfFfmpegPictures) {
    struct Case {
        const char* extension;
        ImageFormat format;
        uint32_t bits;
    } cases[] = {{"bmp", ImageFormat::kBmp, 24}, {"png", ImageFormat::kPng, 24}, {"jpg", ImageFormat::kJpeg, 24}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        const Bytes file = Fixture(c.extension);
        ASSERT_FALSE(file.empty());
        ImageHeader h;
        std::string error;
        ASSERT_TRUE(CheckImageHeader(file.data(), file.size(), &h, &error)) << error;
        EXPECT_EQ(h.format, c.format);
        EXPECT_EQ(h.width, 70u);
        EXPECT_EQ(h.height, 45u);
        EXPECT_EQ(h.bitsPerPixel, c.bits);

        // Every cut of the file is refused with a reason, or (JPEG and PNG past their
        // headers) still read as the same picture; never read past the bytes given.
        for (size_t cut = 0; cut < file.size(); cut += (cut < 64 ? 1 : 97)) {
            const Bytes part(file.begin(), file.begin() + static_cast<long>(cut));
            ImageHeader ph;
            std::string why;
            if (CheckImageHeader(part.data(), part.size(), &ph, &why)) {
                EXPECT_NE(c.format, ImageFormat::kBmp) << "a cut bitmap passed at " << cut;
                EXPECT_EQ(ph.width, 70u);
            } else {
                EXPECT_FALSE(why.empty());
                EXPECT_EQ(ph.width, 0u);
            }
        }
    }
}

// A minimal 2x2 24-bit bitmap whose fields the cases edit.
Bytes SmallBmp() {
    Bytes b(14 + 40 + 16, 0);
    b[0] = 'B';
    b[1] = 'M';
    b[10] = 54;
    b[14] = 40;
    b[18] = 2;  // width
    b[22] = 2;  // height
    b[26] = 1;  // planes
    b[28] = 24;
    return b;
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(ImageCheck, RefusesHostileHeaders) {
    ImageHeader h;
    std::string error;
    Bytes ok = SmallBmp();
    ASSERT_TRUE(CheckImageHeader(ok.data(), ok.size(), &h, &error)) << error;

    Bytes topDown = SmallBmp();
    Put32(topDown, 22, static_cast<uint32_t>(-2));
    ASSERT_TRUE(CheckImageHeader(topDown.data(), topDown.size(), &h, &error)) << error;
    EXPECT_TRUE(h.topDown);
    EXPECT_EQ(h.height, 2u);

    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
    } cases[] = {
        {"zero width", 18, 0},
        {"negative width", 18, static_cast<uint32_t>(-5)},
        {"huge width", 18, 100000},
        {"huge height", 22, 0x7FFFFFFF},
        {"smallest height", 22, 0x80000000u},
        {"odd depth", 28, 7},
        {"pixels past the end", 10, 60},
        {"unknown header size", 14, 20},
        {"header past the end", 14, 4000},
        {"unknown compression", 30, 9},
    };
    for (const Case& c : cases) {
        Bytes bad = SmallBmp();
        if (c.at == 28) {
            bad[28] = static_cast<uint8_t>(c.value);
        } else {
            Put32(bad, c.at, c.value);
        }
        EXPECT_FALSE(CheckImageHeader(bad.data(), bad.size(), &h, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }

    const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
                           0,    0,   0,   0,   0,    0,    1,    8,    2, 0, 0, 0,  0,   0,   0,   0};
    EXPECT_FALSE(CheckImageHeader(png, sizeof png, &h, &error));  // width 0

    // A JPEG of markers only: no frame header before the end.
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xD9};
    EXPECT_FALSE(CheckImageHeader(jpeg, sizeof jpeg, &h, &error));
    EXPECT_FALSE(CheckImageHeader(nullptr, 0, &h, &error));
    const uint8_t text[] = "GIF89a....";
    EXPECT_FALSE(CheckImageHeader(text, sizeof text, &h, &error));
    EXPECT_EQ(SniffImageFormat(text, sizeof text), ImageFormat::kUnknown);
}

TEST(ImageCheck, DibSizeComesFromTheDimensions) {
    struct Case {
        int32_t width, height;
        uint32_t bits;
        bool ok;
        uint64_t bytes;
    } cases[] = {
        {320, -240, 32, true, 320 * 240 * 4},
        {3, 2, 24, true, 12 * 2},
        {1, 1, 1, true, 4},
        {9, 1, 4, true, 8},
        {0, 5, 24, false, 0},
        {5, 0, 24, false, 0},
        {5, 5, 12, false, 0},
        {-5, 5, 8, false, 0},
        {16384, 16384, 32, false, 0},  // 1 GB: refused, never wrapped to a small size
        {0x7FFFFFFF, 0x7FFFFFFF, 32, false, 0},
    };
    for (const Case& c : cases) {
        uint64_t bytes = 123;
        EXPECT_EQ(DibImageSize(c.width, c.height, c.bits, &bytes), c.ok) << c.width << "x" << c.height;
        EXPECT_EQ(bytes, c.bytes);
    }
}

}  // namespace
}  // namespace services

namespace services {
namespace {

// A PNG head: signature, IHDR of `colour` type and `depth`, then the given chunks (CRCs are
// not checked by the reader, so they are left zero).
std::vector<uint8_t> PngWith(uint8_t depth, uint8_t colour,
                             const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks) {
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',  0,      0, 0, 13, 'I', 'H', 'D', 'R', 0,
                              0,    0,   4,   0,   0,    0,    4,    depth, colour, 0, 0, 0,  0,   0,   0,   0};
    for (const auto& [type, body] : chunks) {
        const uint32_t n = static_cast<uint32_t>(body.size());
        b.insert(b.end(), {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n)});
        b.insert(b.end(), type.begin(), type.end());
        b.insert(b.end(), body.begin(), body.end());
        b.insert(b.end(), 4, 0);
    }
    return b;
}

TEST(ImageCheck, FindsThePngTransparentColour) {
    uint32_t colour = 0;
    auto rgbKey = PngWith(8, 2, {{"tRNS", {0, 0x10, 0, 0x20, 0, 0x30}}, {"IDAT", {}}});
    ASSERT_TRUE(FindTransparentColour(rgbKey.data(), rgbKey.size(), &colour));
    EXPECT_EQ(colour, 0x302010u);

    auto palette = PngWith(8, 3, {{"PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9}}, {"tRNS", {255, 0}}, {"IDAT", {}}});
    ASSERT_TRUE(FindTransparentColour(palette.data(), palette.size(), &colour));
    EXPECT_EQ(colour, 0x060504u);

    auto grey = PngWith(4, 0, {{"tRNS", {0, 15}}});
    ASSERT_TRUE(FindTransparentColour(grey.data(), grey.size(), &colour));
    EXPECT_EQ(colour, 0xFFFFFFu);

    auto opaquePalette = PngWith(8, 3, {{"PLTE", {1, 2, 3}}, {"tRNS", {255}}});
    EXPECT_FALSE(FindTransparentColour(opaquePalette.data(), opaquePalette.size(), &colour));
    auto late = PngWith(8, 2, {{"IDAT", {}}, {"tRNS", {0, 1, 0, 2, 0, 3}}});
    EXPECT_FALSE(FindTransparentColour(late.data(), late.size(), &colour));
    auto cut = rgbKey;
    cut.resize(cut.size() - 12);  // the tRNS body runs past the end
    cut.resize(33 + 8 + 3);
    EXPECT_FALSE(FindTransparentColour(cut.data(), cut.size(), &colour));
}

}  // namespace
}  // namespace services

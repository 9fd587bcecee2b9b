#include "app/services/image_holder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/shell.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Makes `name` with ffmpeg from the test pattern (`filters` picks the pixel format the file
// stores), then ffmpeg's own decode of that file to BGRA as the reference.
void MakePicture(const std::string& name, const std::string& filters) {
    const std::string script = "[ -s " + name + ".bgra ] || { ffmpeg -nostdin -hide_banner -loglevel error -y " +
                               "-f lavfi -i testsrc2=size=70x46:rate=1 -frames:v 1 -vf " + filters + " -update 1 " +
                               name + " && ffmpeg -nostdin -hide_banner -loglevel error -y -i " + name +
                               " -pix_fmt bgra -f rawvideo " + name + ".bgra; }";
    ASSERT_EQ(testsupport::RunShell(script, name + ".log"), 0) << testsupport::ReadFixtureFile(name + ".log");
}

Bytes Reference(const std::string& name) {
    const std::string s = testsupport::ReadFixtureFile(name + ".bgra");
    return Bytes(s.begin(), s.end());
}

int MaxDifference(const Bytes& a, const Bytes& b, bool withAlpha) {
    int worst = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (!withAlpha && i % 4 == 3) continue;
        worst = std::max(worst, std::abs(a[i] - b[i]));
    }
    return worst;
}

struct Picture {
    const char* name;
    const char* filters;
    int bits;
    int tolerance;
};
const Picture kPictures[] = {
    {"holder.bmp", "format=bgr24", 24, 0},
    {"holder.png", "format=rgb24", 24, 0},
    {"holder_alpha.png", "format=rgba,colorchannelmixer=aa=0.5", 32, 0},
    {"holder.jpg", "format=yuvj444p", 24, 3},
};

TEST(ImageHolder, DecodesLikeFfmpeg) {
    for (const Picture& p : kPictures) {
        SCOPED_TRACE(p.name);
        MakePicture(p.name, p.filters);
        const Bytes reference = Reference(p.name);
        ASSERT_EQ(reference.size(), 70u * 46 * 4);
        CLeadImage image;
        ASSERT_EQ(image.Load(testsupport::FixturePath(p.name).c_str()), S_OK) << image.GetError();
        EXPECT_EQ(image.GetWidth(), 70);
        EXPECT_EQ(image.GetHeight(), 46);
        EXPECT_EQ(image.GetBitsPerPixel(), p.bits);
        EXPECT_EQ(image.GetTransparentColor(), 0xFFFFFFFFu);
        ASSERT_EQ(image.GetPixels().size(), reference.size());
        const int difference = MaxDifference(image.GetPixels(), reference, p.bits == 32);
        EXPECT_LE(difference, p.tolerance);
        std::printf("%s: largest difference from ffmpeg %d\n", p.name, difference);

        // The DIB section keeps 24 or 32 bits and holds the same pixels, row by row.
        HBITMAP dib = image.CreateDib();
        ASSERT_NE(dib, nullptr);
        DIBSECTION ds{};
        ASSERT_EQ(GetObjectA(dib, sizeof ds, &ds), static_cast<int>(sizeof ds));
        EXPECT_EQ(ds.dsBm.bmBitsPixel, p.bits);
        EXPECT_EQ(ds.dsBm.bmWidth, 70);
        const int stride = ds.dsBm.bmWidthBytes;
        const auto* bits = static_cast<const uint8_t*>(ds.dsBm.bmBits);
        int worst = 0;
        for (int y = 0; y < 46; ++y)
            for (int x = 0; x < 70; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int ours = bits[y * stride + x * (p.bits / 8) + c];
                    worst = std::max(worst, std::abs(ours - image.GetPixels()[(y * 70 + x) * 4 + c]));
                }
        EXPECT_EQ(worst, 0);
        DeleteObject(dib);

        // The device-dependent copy reads back the same colours.
        HDC screen = GetDC(nullptr);
        HBITMAP ddb = image.CreateDdb(screen);
        ASSERT_NE(ddb, nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = 70;
        info.bmiHeader.biHeight = -46;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        Bytes back(70 * 46 * 4);
        EXPECT_EQ(GetDIBits(screen, ddb, 0, 46, back.data(), &info, DIB_RGB_COLORS), 46);
        EXPECT_EQ(MaxDifference(back, image.GetPixels(), false), 0);
        DeleteObject(ddb);
        ReleaseDC(nullptr, screen);
    }
}

TEST(ImageHolder, SniffsTheContentNotTheExtension) {
    MakePicture("holder.png", "format=rgb24");
    MakePicture("holder.bmp", "format=bgr24");
    ASSERT_EQ(testsupport::RunShell("cp holder.png holder_png_named.bmp && cp holder.bmp holder_bmp_named.jpg"), 0);
    CLeadImage image;
    ASSERT_EQ(image.Load(testsupport::FixturePath("holder_png_named.bmp").c_str()), S_OK) << image.GetError();
    EXPECT_EQ(MaxDifference(image.GetPixels(), Reference("holder.png"), false), 0);
    ASSERT_EQ(image.Load(testsupport::FixturePath("holder_bmp_named.jpg").c_str()), S_OK) << image.GetError();
    EXPECT_EQ(MaxDifference(image.GetPixels(), Reference("holder.bmp"), false), 0);
    EXPECT_STREQ(image.GetFileName(), testsupport::FixturePath("holder_bmp_named.jpg").c_str());
}

TEST(ImageHolder, FailedLoadsLeaveTheHolderEmpty) {
    MakePicture("holder.png", "format=rgb24");
    CLeadImage image;
    ASSERT_EQ(image.Load(testsupport::FixturePath("holder.png").c_str()), S_OK);
    EXPECT_EQ(image.Load(testsupport::FixturePath("no_such_picture.png").c_str()), CLeadImage::kImageLoadFailed);
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_EQ(image.GetTransparentColor(), 0xFFFFFFFFu);
    EXPECT_TRUE(image.GetFileName().IsEmpty());
    EXPECT_EQ(image.CreateDib(), nullptr);
    EXPECT_EQ(image.CreateDdb(GetDC(nullptr)), nullptr);
    EXPECT_FALSE(image.GetError().empty());
}

// Truncated and mutated pictures are refused with an error or decode to a picture of their
// header's size; nothing crashes and nothing is read past the bytes given.
TEST(ImageHolder, DamagedAndHostileFilesAreRefusedCleanly) {
    std::mt19937 rng(20);
    int refused = 0, decoded = 0;
    for (const Picture& p : kPictures) {
        MakePicture(p.name, p.filters);
        const std::string text = testsupport::ReadFixtureFile(p.name);
        const Bytes file(text.begin(), text.end());
        ASSERT_FALSE(file.empty());
        std::vector<Bytes> corpus;
        for (size_t cut :
             {size_t{0}, size_t{1}, size_t{10}, size_t{30}, file.size() / 3, file.size() / 2, file.size() - 1})
            corpus.emplace_back(file.begin(), file.begin() + static_cast<long>(cut));
        for (int i = 0; i < 60; ++i) {
            Bytes m = file;
            const int edits = 1 + static_cast<int>(rng() % 8);
            for (int e = 0; e < edits; ++e)
                m[rng() % m.size()] = static_cast<uint8_t>(rng());
            corpus.push_back(std::move(m));
        }
        for (const Bytes& bad : corpus) {
            const Bytes exact(bad);  // exact size, so a read past it is a fault
            CLeadImage image;
            const HRESULT hr = image.LoadFromMemory(exact.data(), exact.size());
            if (hr == S_OK) {
                ++decoded;
                EXPECT_GT(image.GetWidth(), 0);
                EXPECT_EQ(image.GetPixels().size(), static_cast<size_t>(image.GetWidth()) * image.GetHeight() * 4);
            } else {
                ++refused;
                EXPECT_EQ(hr, CLeadImage::kImageLoadFailed);
                EXPECT_FALSE(image.GetError().empty());
                EXPECT_FALSE(image.IsLoaded());
            }
        }
    }
    EXPECT_GT(refused, 20);  // the truncations at least
    std::printf("damaged pictures: %d refused, %d decoded\n", refused, decoded);
}

}  // namespace

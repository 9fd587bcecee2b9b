// Platform-free checks of skin image files before any decoder sees them: the format is
// sniffed from the content (never from the extension), the header is read within the bytes
// at hand, and the picture's size and depth must be sane. The Windows image holder
// (image_holder.h) decodes only what passes; this is also the unit the fuzz target drives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace services {

enum class ImageFormat { kUnknown, kBmp, kPng, kJpeg };

// Largest width or height accepted for a skin picture, and the largest decoded size.
constexpr uint32_t kMaxImageDimension = 16384;
constexpr uint64_t kMaxImageBytes = 256ull << 20;

struct ImageHeader {
    ImageFormat format = ImageFormat::kUnknown;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;  // of the file (BMP bit count; PNG bit depth x channels; JPEG 8 x components)
    bool topDown = false;       // BMP with a negative height
};

// The format named by the first bytes: "BM", the PNG signature, or JPEG's SOI and a marker.
ImageFormat SniffImageFormat(const uint8_t* data, size_t size);

// Reads and checks the header of a BMP, PNG or JPEG file held in `data`. False with a
// readable reason in `error` for an unknown format, a truncated or inconsistent header,
// zero or oversized dimensions or an unsupported depth.
bool CheckImageHeader(const uint8_t* data, size_t size, ImageHeader* header, std::string* error);

// The colour a PNG file marks as transparent (its tRNS chunk: the key colour of a grey or RGB
// picture, or the first fully transparent palette entry), as a COLORREF (0x00BBGGRR). False
// when the file has none or is not a PNG. Chunks are walked within `size`, at most 4,096.
bool FindTransparentColour(const uint8_t* data, size_t size, uint32_t* colorref);

// Bytes of a bottom-up or top-down DIB of that size and depth (rows padded to 4 bytes),
// computed from the dimensions alone; false when a value is zero, the depth is not a
// Windows depth (1, 4, 8, 16, 24, 32) or the size passes kMaxImageBytes.
bool DibImageSize(int32_t width, int32_t height, uint32_t bitsPerPixel, uint64_t* bytes);

}  // namespace services

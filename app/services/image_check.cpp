#include "app/services/image_check.h"

#include <cstring>

namespace services {
namespace {

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

bool CheckDimensions(const ImageHeader& h, std::string* error) {
    if (h.width == 0 || h.height == 0) return Fail(error, "the picture has no width or height");
    if (h.width > kMaxImageDimension || h.height > kMaxImageDimension)
        return Fail(error, "the picture is larger than 16384 pixels in width or height");
    if (static_cast<uint64_t>(h.width) * h.height * 4 > kMaxImageBytes)
        return Fail(error, "the decoded picture would pass 256 MB");
    return true;
}

bool CheckBmp(const uint8_t* d, size_t size, ImageHeader* h, std::string* error) {
    // BITMAPFILEHEADER (14 bytes) and at least a BITMAPCOREHEADER (12 bytes).
    if (size < 26) return Fail(error, "the bitmap file is shorter than its headers");
    const uint32_t pixelOffset = Le32(d + 10);
    const uint32_t infoSize = Le32(d + 14);
    if (infoSize != 12 && infoSize < 40) return Fail(error, "the bitmap header has an unknown size");
    if (14ull + infoSize > size) return Fail(error, "the bitmap header is cut short");
    int64_t width, height;
    uint32_t planes, bits, compression = 0;
    if (infoSize == 12) {
        width = Le16(d + 18);
        height = Le16(d + 20);
        planes = Le16(d + 22);
        bits = Le16(d + 24);
    } else {
        width = static_cast<int32_t>(Le32(d + 18));
        height = static_cast<int32_t>(Le32(d + 22));
        planes = Le16(d + 26);
        bits = Le16(d + 28);
        compression = Le32(d + 30);
    }
    if (planes != 1) return Fail(error, "the bitmap does not have one plane");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Fail(error, "the bitmap's bit depth is not 1, 4, 8, 16, 24 or 32");
    if (compression > 3 && compression != 6) return Fail(error, "the bitmap's compression is not supported");
    if (width <= 0) return Fail(error, "the bitmap has no width");
    h->topDown = height < 0;
    if (height < 0) height = -height;
    h->width = width > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(width);
    h->height = height > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(height);
    h->bitsPerPixel = bits;
    if (!CheckDimensions(*h, error)) return false;
    if (pixelOffset < 14 + infoSize || pixelOffset >= size)
        return Fail(error, "the bitmap's pixels lie outside the file");
    if (compression == 0) {
        uint64_t need = 0;
        DibImageSize(static_cast<int32_t>(h->width), static_cast<int32_t>(h->height), bits, &need);
        if (pixelOffset + need > size) return Fail(error, "the bitmap's pixels are cut short");
    }
    return true;
}

bool CheckPng(const uint8_t* d, size_t size, ImageHeader* h, std::string* error) {
    // Signature, then the IHDR chunk: length 13, type, 13 bytes, CRC.
    if (size < 8 + 8 + 13 + 4) return Fail(error, "the PNG file is shorter than its header");
    if (Be32(d + 8) != 13 || std::memcmp(d + 12, "IHDR", 4) != 0)
        return Fail(error, "the PNG file does not open with IHDR");
    h->width = Be32(d + 16);
    h->height = Be32(d + 20);
    const uint32_t depth = d[24], colour = d[25];
    uint32_t channels;
    switch (colour) {
        case 0:
        case 3:
            channels = 1;
            break;
        case 2:
            channels = 3;
            break;
        case 4:
            channels = 2;
            break;
        case 6:
            channels = 4;
            break;
        default:
            return Fail(error, "the PNG colour type is unknown");
    }
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16)
        return Fail(error, "the PNG bit depth is unknown");
    if (d[26] != 0 || d[27] != 0 || d[28] > 1)
        return Fail(error, "the PNG compression, filter or interlace method is unknown");
    h->bitsPerPixel = depth * channels;
    return CheckDimensions(*h, error);
}

bool CheckJpeg(const uint8_t* d, size_t size, ImageHeader* h, std::string* error) {
    // Walk the marker segments after SOI up to the first start-of-frame (ITU-T T.81 B.2).
    size_t pos = 2;
    for (int segments = 0; segments < 1024; ++segments) {
        while (pos < size && d[pos] == 0xFF && pos + 1 < size && d[pos + 1] == 0xFF)
            ++pos;  // fill bytes
        if (pos + 4 > size) return Fail(error, "the JPEG file ends before its frame header");
        if (d[pos] != 0xFF) return Fail(error, "the JPEG file has a broken marker");
        const uint8_t marker = d[pos + 1];
        if (marker == 0xD9 || marker == 0xDA) return Fail(error, "the JPEG file has no frame header before its data");
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const uint16_t length = Be16(d + pos + 2);
        if (length < 2) return Fail(error, "the JPEG file has a segment of impossible length");
        const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            if (length < 8 || pos + 2 + length > size) return Fail(error, "the JPEG frame header is cut short");
            const uint8_t precision = d[pos + 4];
            h->height = Be16(d + pos + 5);
            h->width = Be16(d + pos + 7);
            const uint32_t components = d[pos + 9];
            if (precision != 8) return Fail(error, "the JPEG precision is not 8 bits");
            if (components != 1 && components != 3 && components != 4)
                return Fail(error, "the JPEG file has an unsupported number of components");
            if (length < 8 + 3 * components) return Fail(error, "the JPEG frame header is cut short");
            h->bitsPerPixel = 8 * components;
            return CheckDimensions(*h, error);
        }
        pos += 2 + static_cast<size_t>(length);
    }
    return Fail(error, "the JPEG file has too many segments before its frame header");
}

}  // namespace

ImageFormat SniffImageFormat(const uint8_t* data, size_t size) {
    if (data == nullptr) return ImageFormat::kUnknown;
    if (size >= 8 && std::memcmp(data, kPngSignature, 8) == 0) return ImageFormat::kPng;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return ImageFormat::kJpeg;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return ImageFormat::kBmp;
    return ImageFormat::kUnknown;
}

bool CheckImageHeader(const uint8_t* data, size_t size, ImageHeader* header, std::string* error) {
    *header = ImageHeader();
    ImageHeader h;
    h.format = SniffImageFormat(data, size);
    bool ok;
    switch (h.format) {
        case ImageFormat::kBmp:
            ok = CheckBmp(data, size, &h, error);
            break;
        case ImageFormat::kPng:
            ok = CheckPng(data, size, &h, error);
            break;
        case ImageFormat::kJpeg:
            ok = CheckJpeg(data, size, &h, error);
            break;
        default:
            return Fail(error, "the file is not a BMP, PNG or JPEG picture");
    }
    if (ok) *header = h;
    return ok;
}

bool FindTransparentColour(const uint8_t* data, size_t size, uint32_t* colorref) {
    if (SniffImageFormat(data, size) != ImageFormat::kPng || size < 33) return false;
    const uint8_t depth = data[24], colour = data[25];
    const uint8_t* palette = nullptr;
    size_t paletteSize = 0;
    const auto rgb = [](uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); };
    size_t pos = 8;
    for (int chunks = 0; chunks < 4096 && pos + 12 <= size; ++chunks) {
        const uint32_t length = Be32(data + pos);
        if (length > size - pos - 12) return false;
        const uint8_t* type = data + pos + 4;
        const uint8_t* body = data + pos + 8;
        if (std::memcmp(type, "PLTE", 4) == 0) {
            palette = body;
            paletteSize = length / 3;
        } else if (std::memcmp(type, "tRNS", 4) == 0) {
            // Samples of 16-bit pictures keep their high byte; lower depths scale to 8 bits.
            const auto sample = [depth](const uint8_t* p) -> uint32_t {
                const uint32_t v = Be16(p);
                if (depth == 16) return v >> 8;
                const uint32_t max = (1u << depth) - 1;
                return max ? (v & max) * 255 / max : 0;
            };
            if (colour == 0 && length >= 2) {
                const uint32_t g = sample(body);
                *colorref = rgb(g, g, g);
                return true;
            }
            if (colour == 2 && length >= 6) {
                *colorref = rgb(sample(body), sample(body + 2), sample(body + 4));
                return true;
            }
            if (colour == 3 && palette) {
                for (uint32_t i = 0; i < length && i < paletteSize; ++i) {
                    if (body[i] == 0) {
                        *colorref = rgb(palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
                        return true;
                    }
                }
            }
            return false;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            return false;  // tRNS comes before the image data
        }
        pos += 12 + static_cast<size_t>(length);
    }
    return false;
}

bool DibImageSize(int32_t width, int32_t height, uint32_t bitsPerPixel, uint64_t* bytes) {
    *bytes = 0;
    if (width <= 0 || height == 0) return false;
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 &&
        bitsPerPixel != 32)
        return false;
    const uint64_t rows =
        height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(height)) : static_cast<uint64_t>(height);
    const uint64_t stride = ((static_cast<uint64_t>(width) * bitsPerPixel + 31) / 32) * 4;
    const uint64_t total = stride * rows;
    if (total > kMaxImageBytes) return false;
    *bytes = total;
    return true;
}

}  // namespace services

// Input pictures of the eight accepted formats into the planar 4:2:0 picture the encoder
// core takes (YV12 plane order: luma, Cr, Cb). Platform-free.
//
// The picture the core gets has even dimensions: an odd width or height is padded by one
// column or row that repeats the last one. Source rows:
// - planar 4:2:0 (YV12, I420, IYUV): luma rows of `width` bytes, chroma planes of
//   ceil(width / 2) x ceil(height / 2) samples, rows of ceil(width / 2) bytes;
// - packed 4:2:2 and RGB: rows of the DIB stride (the row's bytes rounded up to a
//   multiple of 4), packed 4:2:2 top-down, RGB bottom-up unless the type says top-down
//   (a negative biHeight).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ombrisk {

enum class InputFormat : int { yv12 = 0, i420 = 1, iyuv = 2, yuy2 = 3, yvyu = 4, uyvy = 5, rgb32 = 6, rgb24 = 7 };

struct InputLayout {
    InputFormat format = InputFormat::yv12;
    int width = 0;         // pixels, at least 1
    int height = 0;        // pixels (the absolute bitmap height), at least 1
    bool topDown = false;  // RGB only: the first row in memory is the top of the picture
};

// The picture the core gets: even width and height, YV12 plane order, pitch = width.
struct PlanarSize {
    int width = 0;
    int height = 0;
    size_t lumaBytes() const { return size_t(width) * size_t(height); }
    size_t chromaBytes() const { return size_t(width / 2) * size_t(height / 2); }
    size_t bytes() const { return lumaBytes() + 2 * chromaBytes(); }
};
PlanarSize CodedPictureSize(int width, int height);

// Bytes of one row of a packed or RGB input (DWORD-aligned), 0 for planar input.
int64_t InputRowStride(const InputLayout& layout);
// Bytes one input picture takes; 0 for a size that is not positive.
int64_t InputPictureBytes(const InputLayout& layout);

// True when the sample's bytes are the core's picture as they are (even-sized YV12), so
// that no copy is needed.
bool InputIsCorePicture(const InputLayout& layout);

// Converts one picture of `sourceBytes` bytes into `out` (CodedPictureSize bytes). False,
// with nothing written, when the source is shorter than InputPictureBytes.
bool ConvertInput(const InputLayout& layout, const uint8_t* source, size_t sourceBytes, uint8_t* out);

}  // namespace ombrisk

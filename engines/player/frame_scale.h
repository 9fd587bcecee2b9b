// Reduction of a picture by area averaging, for thumbnails. Platform-free.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace engines {

// The size that fits `width` x `height` within `maxWidth` x `maxHeight` with the aspect
// kept and never enlarged; a bound of 0 leaves that side free. Each side is at least 1.
void FitWithin(uint32_t width, uint32_t height, uint32_t maxWidth, uint32_t maxHeight, uint32_t* outWidth,
               uint32_t* outHeight);

// Reduces top-down 0x00RRGGBB pixels of `width` x `height` to `outWidth` x `outHeight`
// (each at most the source's): every output pixel is the mean of the source area it covers,
// partial source pixels weighted by the part covered, rounded to nearest. Empty when the
// sizes are 0, the output is larger, or `pixels` is shorter than the picture.
std::vector<uint32_t> ScaleDownArea(std::span<const uint32_t> pixels, uint32_t width, uint32_t height,
                                    uint32_t outWidth, uint32_t outHeight);

}  // namespace engines

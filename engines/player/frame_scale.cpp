#include "engines/player/frame_scale.h"

#include <algorithm>

namespace engines {

void FitWithin(uint32_t width, uint32_t height, uint32_t maxWidth, uint32_t maxHeight, uint32_t* outWidth,
               uint32_t* outHeight) {
    // The common scale is the smaller of the two bounds' ratios, in exact fractions.
    uint64_t num = 1, den = 1;
    if (maxWidth && width > maxWidth) num = maxWidth, den = width;
    if (maxHeight && height > maxHeight && uint64_t(maxHeight) * den < num * height) num = maxHeight, den = height;
    *outWidth = std::max<uint32_t>(1, static_cast<uint32_t>((uint64_t(width) * num + den / 2) / den));
    *outHeight = std::max<uint32_t>(1, static_cast<uint32_t>((uint64_t(height) * num + den / 2) / den));
    if (maxWidth) *outWidth = std::min(*outWidth, std::max(maxWidth, 1u));
    if (maxHeight) *outHeight = std::min(*outHeight, std::max(maxHeight, 1u));
}

namespace {

// The source pixels output position `o` covers along one axis of `in` -> `out` pixels, as
// weights in units of 1/out of a source pixel (the whole output pixel weighs `in`).
struct Span {
    uint32_t first = 0;
    std::vector<uint32_t> weights;
};

std::vector<Span> Spans(uint32_t in, uint32_t out) {
    std::vector<Span> spans(out);
    for (uint32_t o = 0; o < out; ++o) {
        // Output pixel o covers source positions [o*in, (o+1)*in) in units of 1/out.
        const uint64_t from = uint64_t(o) * in, to = uint64_t(o + 1) * in;
        Span& span = spans[o];
        span.first = static_cast<uint32_t>(from / out);
        for (uint64_t s = span.first; s * out < to && s < in; ++s) {
            const uint64_t lo = std::max<uint64_t>(from, s * out), hi = std::min<uint64_t>(to, (s + 1) * out);
            span.weights.push_back(static_cast<uint32_t>(hi - lo));
        }
    }
    return spans;
}

}  // namespace

std::vector<uint32_t> ScaleDownArea(std::span<const uint32_t> pixels, uint32_t width, uint32_t height,
                                    uint32_t outWidth, uint32_t outHeight) {
    if (!width || !height || !outWidth || !outHeight || outWidth > width || outHeight > height) return {};
    if (pixels.size() < uint64_t(width) * height) return {};
    const std::vector<Span> across = Spans(width, outWidth), down = Spans(height, outHeight);
    const uint64_t total = uint64_t(width) * height;  // sum of all weights of one output pixel
    std::vector<uint32_t> out(size_t(outWidth) * outHeight);
    for (uint32_t y = 0; y < outHeight; ++y) {
        for (uint32_t x = 0; x < outWidth; ++x) {
            uint64_t sum[3] = {0, 0, 0};
            for (size_t j = 0; j < down[y].weights.size(); ++j) {
                const uint32_t* row = pixels.data() + size_t(down[y].first + j) * width + across[x].first;
                for (size_t i = 0; i < across[x].weights.size(); ++i) {
                    const uint64_t w = uint64_t(down[y].weights[j]) * across[x].weights[i];
                    sum[0] += w * ((row[i] >> 16) & 0xFF);
                    sum[1] += w * ((row[i] >> 8) & 0xFF);
                    sum[2] += w * (row[i] & 0xFF);
                }
            }
            const auto mean = [&](uint64_t s) { return static_cast<uint32_t>((s + total / 2) / total); };
            out[size_t(y) * outWidth + x] = (mean(sum[0]) << 16) | (mean(sum[1]) << 8) | mean(sum[2]);
        }
    }
    return out;
}

}  // namespace engines

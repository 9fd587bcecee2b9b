#include "filters/encoder/core/frame_stamp.h"

#include <algorithm>
#include <cstring>

namespace ombrisk {
namespace {

// 20 bits a glyph, row 0 in bits 19-16 (bit 19 leftmost) down to row 4 in bits 3-0.
constexpr uint32_t kSeparator = 0x06660;
constexpr uint32_t kDigits[10] = {0x6DFF6, 0x37F33, 0xFB3CF, 0xF3F3F, 0x99F33,
                                  0xF8F3F, 0xF8FDF, 0xF1366, 0xFDFBF, 0xFBF1F};
constexpr uint32_t kLetterI = 0xF666F, kLetterP = 0xFDFCC, kLetterB = 0xFBEDF;

}  // namespace

int FrameStampScale(int width, int height) {
    return std::min({(width - 16) / kStampCellsWide, (height - 16) / kStampCellsHigh, 4});
}

void DrawFrameStamp(uint8_t* luma, int pitch, int width, int height, int32_t frameType, int64_t displayNumber,
                    int64_t codingNumber) {
    const int scale = FrameStampScale(width, height);
    if (scale < 1 || !luma) return;
    uint32_t glyphs[11];
    glyphs[0] = frameType == 0 || frameType == 3 ? kLetterI : frameType == 1 || frameType == 4 ? kLetterP : kLetterB;
    glyphs[1] = glyphs[6] = kSeparator;
    const auto digits = [&](int first, int64_t n) {
        n = ((n % 10000) + 10000) % 10000;
        for (int i = 3; i >= 0; --i, n /= 10)
            glyphs[first + i] = kDigits[n % 10];
    };
    digits(2, displayNumber);
    digits(7, codingNumber);
    const int left = 16, top = height - kStampCellsHigh * scale - 16;
    for (int cy = 0; cy < kStampCellsHigh; ++cy) {
        uint8_t cells[kStampCellsWide];
        std::memset(cells, kStampBackground, sizeof cells);
        const int row = cy - 2;
        if (row >= 0 && row < 5)
            for (int g = 0; g < 11; ++g)
                for (int col = 0; col < 4; ++col)
                    if (glyphs[g] >> (19 - 4 * row - col) & 1) cells[2 + g * 5 + col] = kStampInk;
        for (int py = 0; py < scale; ++py) {
            uint8_t* line = luma + size_t(top + cy * scale + py) * size_t(pitch) + left;
            for (int cx = 0; cx < kStampCellsWide; ++cx)
                std::memset(line + cx * scale, cells[cx], size_t(scale));
        }
    }
}

}  // namespace ombrisk

#include "filters/decoder/colour_convert.h"

#include <algorithm>
#include <cstring>

#include "filters/decoder/colour_convert_sse2.h"

namespace pelldrin {

namespace {

// BT.601 studio range to RGB in 13-bit fixed point (ITU-R BT.601 with 219 luma and 224
// chroma levels): 1.164383, 1.596027, 0.391762, 0.812968, 2.017232.
constexpr int kShift = 13;
constexpr int kLumaGain = 9539;
constexpr int kVToR = 13075;
constexpr int kUToG = 3209;
constexpr int kVToG = 6660;
constexpr int kUToB = 16525;

struct Rgb {
    int r, g, b;  // sums in 1 << kShift units
};

inline Rgb RgbSums(int y, int u, int v) {
    const int luma = (y - 16) * kLumaGain;
    const int cu = u - 128;
    const int cv = v - 128;
    return {luma + kVToR * cv, luma - (kUToG * cu + kVToG * cv), luma + kUToB * cu};
}

inline uint8_t Clamp8(int value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// A channel of n bits: the sum truncated to n bits and clamped to the channel.
inline unsigned Channel(int sum, int bits) {
    return static_cast<unsigned>(std::clamp(sum >> (kShift + 8 - bits), 0, (1 << bits) - 1));
}

inline uint8_t Round8(int sum) {
    return Clamp8((sum + (1 << (kShift - 1))) >> kShift);
}

// Unsigned 16-bit saturating arithmetic of the 6-tap chroma filter.
inline unsigned SatAdd(unsigned a, unsigned b) {
    return std::min(a + b, 65535u);
}
inline unsigned SatSub(unsigned a, unsigned b) {
    return a > b ? a - b : 0;
}

struct TapSet {
    unsigned c[6];  // weights of L0..L5; signs +, -, +, +, -, +
};
constexpr TapSet kSetA = {{1, 7, 30, 248, 21, 5}};
constexpr TapSet kSetB = {{7, 35, 194, 110, 24, 4}};
constexpr TapSet kSetC = {{3, 16, 67, 227, 32, 7}};

inline uint8_t SixTap(const TapSet& s, const uint8_t* const l[6], int i) {
    const unsigned t1 = SatSub(SatAdd(s.c[0] * l[0][i], s.c[2] * l[2][i]), s.c[1] * l[1][i]);
    const unsigned t2 = SatSub(SatAdd(s.c[3] * l[3][i], s.c[5] * l[5][i]), s.c[4] * l[4][i]);
    return static_cast<uint8_t>(std::min(SatAdd(SatAdd(t1, 128), t2) >> 8, 255u));
}

// Ordered-dither thresholds of the RGB8 output, by phase and row of the pair, per column
// modulo 4: tU low, tU high, tV low, tV high, luma offset.
struct DitherRow {
    int8_t uLow[4], uHigh[4], vLow[4], vHigh[4];
    uint8_t dy[4];
};
constexpr DitherRow kDither[2][2] = {
    {{{-5, -29, -13, -21}, {27, 3, 19, 11}, {-29, -5, -21, -13}, {3, 27, 11, 19}, {27, 21, 25, 23}},
     {{-13, -21, -5, -29}, {19, 11, 27, 3}, {-21, -13, -29, -5}, {11, 19, 3, 27}, {25, 23, 27, 21}}},
    {{{-29, -5, -21, -13}, {3, 27, 11, 19}, {-5, -29, -13, -21}, {27, 3, 19, 11}, {21, 27, 23, 25}},
     {{-21, -13, -29, -5}, {11, 19, 3, 27}, {-13, -21, -5, -29}, {19, 11, 27, 3}, {23, 25, 21, 27}}},
};

inline bool IsRgbKind(int kind) {
    return kind >= kKindRgb24Up && kind <= kKindRgb8Down;
}
inline bool IsBottomUpKind(int kind) {
    return IsRgbKind(kind) && (kind % 2) == 0;
}
inline int KindBytesPerPixel(int kind) {
    switch (kind) {
        case kKindYuy2:
        case kKindUyvy:
            return 2;
        case kKindRgb24Up:
        case kKindRgb24Down:
            return 3;
        case kKindRgb32Up:
        case kKindRgb32Down:
            return 4;
        case kKindRgb8Up:
        case kKindRgb8Down:
            return 1;
        default:
            return IsRgbKind(kind) ? 2 : 1;
    }
}

// Packs one row of 4:2:2 samples (u and v hold columns / 2 samples).
void PackRow(uint8_t* out, const uint8_t* y, const uint8_t* u, const uint8_t* v, int columns, bool uyvy, bool simd) {
    const int done = simd ? PackRowSse2(out, y, u, v, columns, uyvy) : 0;
    out += 2 * done;
    for (int x = done; x < columns; x += 2) {
        const int c = x >> 1;
        if (uyvy) {
            out[0] = u[c];
            out[1] = y[x];
            out[2] = v[c];
            out[3] = y[x + 1];
        } else {
            out[0] = y[x];
            out[1] = u[c];
            out[2] = y[x + 1];
            out[3] = v[c];
        }
        out += 4;
    }
}

void RgbRow(int kind, uint8_t* out, const uint8_t* y, const uint8_t* u, const uint8_t* v, int columns, int kernelRow,
            bool simd) {
    switch (kind) {
        case kKindRgb24Up:
        case kKindRgb24Down:
        case kKindRgb32Up:
        case kKindRgb32Down: {
            const bool four = kind >= kKindRgb32Up;
            const int done = simd ? RgbRowSse2(out, y, u, v, columns, four) : 0;
            out += (four ? 4 : 3) * done;
            for (int x = done; x < columns; ++x) {
                const Rgb s = RgbSums(y[x], u[x >> 1], v[x >> 1]);
                out[0] = Round8(s.b);
                out[1] = Round8(s.g);
                out[2] = Round8(s.r);
                if (four) {
                    out[3] = 0;
                    out += 4;
                } else {
                    out += 3;
                }
            }
            return;
        }
        case kKindRgb8Up:
        case kKindRgb8Down: {
            const DitherRow& d = kDither[(kernelRow >> 1) & 1][kernelRow & 1];
            for (int x = 0; x < columns; ++x) {
                const int col = x & 3;
                const int cu = static_cast<int8_t>(u[x >> 1] - 128);
                const int cv = static_cast<int8_t>(v[x >> 1] - 128);
                const int iu = (cu > d.uLow[col]) + (cu > d.uHigh[col]);
                const int iv = (cv > d.vLow[col]) + (cv > d.vHigh[col]);
                const int iy = std::min(std::max(y[x] - d.dy[col], 0) >> 3, 25);
                out[x] = static_cast<uint8_t>(10 + iy + 26 * iv + 78 * iu);
            }
            return;
        }
        default: {
            // 16-bit words: per-channel bits and positions of 565, 555 and 444.
            int rb = 5, gb = 6, bb = 5, rs = 11, gs = 5;
            if (kind == kKindRgb555Up || kind == kKindRgb555Down) {
                gb = 5;
                rs = 10;
            } else if (kind == kKindRgb444Up || kind == kKindRgb444Down) {
                rb = gb = bb = 4;
                rs = 8;
                gs = 4;
            }
            for (int x = 0; x < columns; ++x) {
                const Rgb s = RgbSums(y[x], u[x >> 1], v[x >> 1]);
                const unsigned word = (Channel(s.r, rb) << rs) | (Channel(s.g, gb) << gs) | Channel(s.b, bb);
                out[2 * x] = static_cast<uint8_t>(word);
                out[2 * x + 1] = static_cast<uint8_t>(word >> 8);
            }
            return;
        }
    }
}

}  // namespace

PixelLayout LayoutFromBitmap(PixelLayout subtypeLayout, int bitCount, bool bitFields, const uint32_t masks[3]) {
    if (subtypeLayout != PixelLayout::unknown) return subtypeLayout;
    switch (bitCount) {
        case 16:
            if (bitFields && masks) {
                if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) return PixelLayout::rgb565;
                if (masks[0] == 0x0F00 && masks[1] == 0x00F0 && masks[2] == 0x000F) return PixelLayout::rgb444;
            }
            return PixelLayout::rgb555;
        case 24:
            return PixelLayout::rgb24;
        case 32:
            return PixelLayout::rgb32;
        default:
            return PixelLayout::unknown;
    }
}

int BitsPerPixel(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::yuy2:
        case PixelLayout::uyvy:
        case PixelLayout::rgb565:
        case PixelLayout::rgb555:
        case PixelLayout::rgb444:
            return 16;
        case PixelLayout::yv12:
        case PixelLayout::i420:
            return 12;
        case PixelLayout::rgb24:
            return 24;
        case PixelLayout::rgb32:
            return 32;
        case PixelLayout::rgb8:
            return 8;
        default:
            return 0;
    }
}

uint32_t BitmapImageSize(PixelLayout layout, int32_t width, int32_t height) {
    const int bits = BitsPerPixel(layout);
    if (bits == 0 || width <= 0 || height == 0) return 0;
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -static_cast<int64_t>(height) : height);
    uint64_t size;
    if (layout == PixelLayout::yv12 || layout == PixelLayout::i420)
        size = static_cast<uint64_t>(width) * rows + 2 * (static_cast<uint64_t>(width) / 2) * ((rows + 1) / 2);
    else
        size = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4 * rows;
    return size > 0x7FFFFFFFu ? 0 : static_cast<uint32_t>(size);
}

PaletteColour FixedPaletteColour(int index) {
    if (index < 10 || index > 243) return {0, 0, 0};
    const int n = index - 10;
    const int y = n % 26, v = (n / 26) % 3, u = n / 78;
    const int g = 15 + 9 * y;
    static constexpr int kBlue[3] = {-44, 0, 44};
    static constexpr int kRed[3] = {-55, 0, 55};
    static constexpr int kGreen[3][3] = {{39, 26, 14}, {13, 0, -13}, {-14, -26, -39}};  // [u][v]
    PaletteColour c{Clamp8(g + kRed[v]), Clamp8(g + kGreen[u][v]), Clamp8(g + kBlue[u])};
    if (index == 85 || index == 86 || index == 87 || index == 113) c.green = 255;
    if (index == 191) c.green = 228;
    return c;
}

bool ColourConverter::DefaultVectorForms() {
    return ColourSse2Available();
}

void ColourConverter::SetVectorForms(bool on) {
    simd_ = on && ColourSse2Available();
}

bool ColourConverter::SetOutputType(const OutputFormat& format) {
    const OutputGeometry& g = *geometry_;
    int kind = kKindNone;
    const bool bottomUp = format.bitmapHeight > 0;
    switch (format.layout) {
        case PixelLayout::yuy2:
            kind = kKindYuy2;
            break;
        case PixelLayout::uyvy:
            kind = kKindUyvy;
            break;
        case PixelLayout::yv12:
            kind = kKindYv12;
            break;
        case PixelLayout::i420:
            kind = kKindI420;
            break;
        case PixelLayout::rgb24:
            kind = bottomUp ? kKindRgb24Up : kKindRgb24Down;
            break;
        case PixelLayout::rgb32:
            kind = bottomUp ? kKindRgb32Up : kKindRgb32Down;
            break;
        case PixelLayout::rgb565:
            kind = bottomUp ? kKindRgb565Up : kKindRgb565Down;
            break;
        case PixelLayout::rgb555:
            kind = bottomUp ? kKindRgb555Up : kKindRgb555Down;
            break;
        case PixelLayout::rgb444:
            kind = bottomUp ? kKindRgb444Up : kKindRgb444Down;
            break;
        case PixelLayout::rgb8:
            kind = bottomUp ? kKindRgb8Up : kKindRgb8Down;
            break;
        default:
            return false;
    }
    if (format.bitmapWidth <= 0 || format.bitmapWidth > 16384 || format.bitmapHeight == 0 ||
        format.bitmapHeight < -16384 || format.bitmapHeight > 16384 || g.width <= 0 || g.width > 16384)
        return false;
    const int32_t bitmapRows = format.bitmapHeight < 0 ? -format.bitmapHeight : format.bitmapHeight;
    const bool hasTarget = format.targetRight > format.targetLeft && format.targetBottom > format.targetTop &&
                           format.targetLeft >= 0 && format.targetTop >= 0;
    int32_t rows = hasTarget ? format.targetBottom - format.targetTop : std::abs(g.bottom - g.top);
    const int32_t left = hasTarget ? format.targetLeft : 0;
    const int32_t top = hasTarget ? format.targetTop : 0;
    if (left >= format.bitmapWidth || top >= bitmapRows) return false;
    // Whole pixel pairs of the decoded width, as far as the bitmap's rows reach.
    const int32_t columns = std::min(g.width, format.bitmapWidth - left) & ~1;
    rows = std::min(rows, bitmapRows - top);
    if (columns <= 0 || rows <= 0) return false;

    int32_t stride, offset;
    if (kind == kKindYv12 || kind == kKindI420) {
        // The planes follow each other in the bitmap: the luma plane of |biHeight| rows
        // of biWidth bytes, then two chroma planes of half that in each direction.
        // The planes start at the buffer: a target must begin at its first pixel.
        if ((format.bitmapWidth & 1) || left != 0 || top != 0) return false;
        stride = format.bitmapWidth;
        offset = 0;
    } else {
        const int bits = BitsPerPixel(format.layout);
        stride = static_cast<int32_t>((static_cast<int64_t>(format.bitmapWidth) * bits + 31) / 32 * 4);
        offset = static_cast<int32_t>(static_cast<int64_t>(stride) * top + (bits * left + 7) / 8);
    }
    const std::size_t chromaLine = static_cast<std::size_t>(columns / 2);
    try {
        work_.assign(2 * chromaLine + static_cast<std::size_t>(columns), 0);
    } catch (...) {
        return false;
    }
    kind_ = kind;
    stride_ = stride;
    offset_ = offset;
    rows_ = rows;
    columns_ = columns;
    planeRows_ = bitmapRows;
    // The bitmap's own size bounds every write (RequiredBytes never passes it).
    return RequiredBytes() <= BitmapImageSize(format.layout, format.bitmapWidth, bitmapRows);
}

size_t ColourConverter::RequiredBytes() const {
    if (kind_ == kKindNone) return 0;
    if (kind_ == kKindYv12 || kind_ == kKindI420) return BitmapImageSize(PixelLayout::yv12, stride_, planeRows_);
    return static_cast<size_t>(offset_) + static_cast<size_t>(rows_ - 1) * static_cast<size_t>(stride_) +
           static_cast<size_t>(columns_) * static_cast<size_t>(KindBytesPerPixel(kind_));
}

// Source rows of output row r: the luma row, the chroma row and the row a kernel counts
// (its row within the field in field-by-field mode).
struct ColourConverter::Rows {
    int luma, chroma, kernel;
};

namespace {

// Field-by-field mapping: output rows 0, 2, 4 ... from the first pass, 1, 3, 5 ... from
// the second; a damaged field is replaced by the intact one, and each field's chroma
// rows serve both of the field's lines that share them.
inline void FieldRow(int r, int damage, int* luma, int* chroma, int* kernel) {
    const int firstField = (damage & 1) ? 1 : 0;
    const int field = (r & 1) == 0 ? firstField : ((damage & 2) ? firstField : 1);
    const int j = r >> 1;
    *luma = 2 * j + field;
    *chroma = 2 * (j >> 1) + field;
    *kernel = j;
}

}  // namespace

int ColourConverter::Convert(const SourcePicture& source, uint8_t* dest, size_t destSize, bool interlaced, int damage) {
    if (kind_ < kKindYuy2 || kind_ > kKindI420 || !dest || !source.y || !source.u || !source.v) return 1;
    if (destSize < RequiredBytes()) return 1;
    const OutputGeometry& g = *geometry_;
    const int top = std::max(std::min(g.top, g.bottom), 0) & ~1;
    // The picture must hold every row and column that is read.
    if (source.pitch < columns_ || source.rows - top < rows_ || source.rows - top < 2) return 1;
    SourcePicture window = source;
    window.y += static_cast<ptrdiff_t>(top) * source.pitch;
    window.u += static_cast<ptrdiff_t>(top / 2) * source.pitch;
    window.v += static_cast<ptrdiff_t>(top / 2) * source.pitch;
    window.rows = source.rows - top;

    if (kind_ == kKindYv12 || kind_ == kKindI420) {
        ConvertPlanar(window, dest);
        return 0;
    }
    uint8_t* first = dest + offset_;
    if (IsRgbKind(kind_))
        ConvertRgb(window, first, interlaced, damage);
    else
        ConvertPacked(window, first, interlaced, damage);
    return 0;
}

void ColourConverter::ConvertPlanar(const SourcePicture& source, uint8_t* dest) {
    const size_t lumaPlane = static_cast<size_t>(stride_) * planeRows_;
    const int32_t chromaStride = stride_ / 2;
    const size_t chromaPlane = static_cast<size_t>(chromaStride) * ((planeRows_ + 1) / 2);
    for (int r = 0; r < rows_; ++r)
        std::memcpy(dest + static_cast<size_t>(r) * stride_, source.y + static_cast<ptrdiff_t>(r) * source.pitch,
                    static_cast<size_t>(columns_));
    uint8_t* firstPlane = dest + lumaPlane;
    uint8_t* secondPlane = firstPlane + chromaPlane;
    const uint8_t* firstSource = kind_ == kKindYv12 ? source.v : source.u;
    const uint8_t* secondSource = kind_ == kKindYv12 ? source.u : source.v;
    const int chromaRows = (rows_ + 1) / 2;
    for (int r = 0; r < chromaRows; ++r) {
        const ptrdiff_t in = static_cast<ptrdiff_t>(r) * source.pitch;
        const size_t out = static_cast<size_t>(r) * chromaStride;
        std::memcpy(firstPlane + out, firstSource + in, static_cast<size_t>(columns_ / 2));
        std::memcpy(secondPlane + out, secondSource + in, static_cast<size_t>(columns_ / 2));
    }
}

void ColourConverter::ConvertRgb(const SourcePicture& source, uint8_t* first, bool interlaced, int damage) {
    const bool bottomUp = IsBottomUpKind(kind_);
    const ptrdiff_t step = bottomUp ? -static_cast<ptrdiff_t>(stride_) : stride_;
    uint8_t* row0 = bottomUp ? first + static_cast<ptrdiff_t>(rows_ - 1) * stride_ : first;
    const int lastLuma = source.rows - 1, lastChroma = source.rows / 2 - 1;
    for (int r = 0; r < rows_; ++r) {
        int luma = r, chroma = r >> 1, kernel = r;
        if (interlaced) FieldRow(r, damage, &luma, &chroma, &kernel);
        luma = std::min(luma, lastLuma);
        chroma = std::min(chroma, lastChroma);
        const ptrdiff_t c = static_cast<ptrdiff_t>(chroma) * source.pitch;
        RgbRow(kind_, row0 + r * step, source.y + static_cast<ptrdiff_t>(luma) * source.pitch, source.u + c,
               source.v + c, columns_, kernel, simd_);
    }
}

void ColourConverter::InterpolateChroma(const SourcePicture& source, int r, bool fieldAware) {
    const int lastChroma = source.rows / 2 - 1;
    int taps[6];
    const TapSet* set;
    if (!fieldAware) {
        const int k = r >> 1;
        set = &kSetC;
        static constexpr int kEven[6] = {-3, -2, -1, 0, 1, 2};
        static constexpr int kOdd[6] = {3, 2, 1, 0, -1, -2};
        for (int i = 0; i < 6; ++i)
            taps[i] = std::clamp(k + ((r & 1) ? kOdd[i] : kEven[i]), 0, lastChroma);
    } else {
        const int k2 = 2 * (r >> 2);
        static constexpr int kRows[4][6] = {
            {-6, -4, -2, 0, 2, 4}, {5, 3, 1, -1, -3, -5}, {-4, -2, 0, 2, 4, 6}, {7, 5, 3, 1, -1, -3}};
        const int phase = r & 3;
        set = (phase == 0 || phase == 3) ? &kSetA : &kSetB;
        for (int i = 0; i < 6; ++i) {
            const int row = k2 + kRows[phase][i];
            // Rows outside the picture: the nearest row of the same field.
            const int parity = row & 1;
            const int lastOfField = (lastChroma & 1) == parity ? lastChroma : lastChroma - 1;
            taps[i] = row < 0 ? parity : std::min(row, std::max(lastOfField, parity));
            taps[i] = std::min(taps[i], lastChroma);
        }
    }
    const int half = columns_ / 2;
    uint8_t* u = work_.data();
    uint8_t* v = u + half;
    const uint8_t* lu[6];
    const uint8_t* lv[6];
    for (int i = 0; i < 6; ++i) {
        lu[i] = source.u + static_cast<ptrdiff_t>(taps[i]) * source.pitch;
        lv[i] = source.v + static_cast<ptrdiff_t>(taps[i]) * source.pitch;
    }
    for (int x = 0; x < half; ++x) {
        u[x] = SixTap(*set, lu, x);
        v[x] = SixTap(*set, lv, x);
    }
}

void ColourConverter::ConvertPacked(const SourcePicture& source, uint8_t* first, bool interlaced, int damage) {
    const bool uyvy = kind_ == kKindUyvy;
    const int lastLuma = source.rows - 1, lastChroma = source.rows / 2 - 1;
    const int half = columns_ / 2;
    uint8_t* workU = work_.data();
    uint8_t* workV = workU + half;
    uint8_t* workY = workV + half;
    auto rowOut = [&](int r) { return first + static_cast<ptrdiff_t>(r) * stride_; };
    auto lumaRow = [&](int row) { return source.y + static_cast<ptrdiff_t>(std::min(row, lastLuma)) * source.pitch; };
    auto chromaOffset = [&](int row) { return static_cast<ptrdiff_t>(std::min(row, lastChroma)) * source.pitch; };

    if (deinterlace_ != 0 && damage == 0) {
        // Line blending: each output row is the average of two neighbouring rows; the
        // chroma rows k, k+1 with k = ceil(r / 2). One rounding (half up) for both.
        for (int r = 0; r < rows_; ++r) {
            const uint8_t* y0 = lumaRow(r);
            const uint8_t* y1 = lumaRow(r + 1);
            const int k = (r + 1) >> 1;
            const ptrdiff_t c0 = chromaOffset(k), c1 = chromaOffset(k + 1);
            for (int x = 0; x < columns_; ++x)
                workY[x] = static_cast<uint8_t>((y0[x] + y1[x] + 1) >> 1);
            for (int x = 0; x < half; ++x) {
                workU[x] = static_cast<uint8_t>((source.u[c0 + x] + source.u[c1 + x] + 1) >> 1);
                workV[x] = static_cast<uint8_t>((source.v[c0 + x] + source.v[c1 + x] + 1) >> 1);
            }
            PackRow(rowOut(r), workY, workU, workV, columns_, uyvy, simd_);
        }
        return;
    }
    const bool fieldByField = interlaced && damage != 0;
    const bool sixTap = !fieldByField && upsampleHq_ && (interlaced || uyvy);
    for (int r = 0; r < rows_; ++r) {
        if (sixTap) {
            InterpolateChroma(source, r, interlaced);
            PackRow(rowOut(r), lumaRow(r), workU, workV, columns_, uyvy, simd_);
            continue;
        }
        int luma = r, chroma = r >> 1, kernel = r;
        if (fieldByField) FieldRow(r, damage, &luma, &chroma, &kernel);
        const ptrdiff_t c = chromaOffset(chroma);
        PackRow(rowOut(r), lumaRow(luma), source.u + c, source.v + c, columns_, uyvy, simd_);
    }
}

}  // namespace pelldrin

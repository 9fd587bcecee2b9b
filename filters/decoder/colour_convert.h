// Output colour conversion of the decoder filter: one decoded 4:2:0 picture (planes in the
// frame store's layout, chroma rows S bytes apart with U and V side by side) into the
// pixel format of the connected output type, written straight into the media sample.
// Platform-free: the filter reads its media type into an OutputFormat, and tests run the
// same code natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelldrin {

// Conversion kinds; the odd RGB kind of each pair is top-down, the even one bottom-up.
enum ConvertKind : int {
    kKindNone = 0,
    kKindYuy2 = 1,
    kKindUyvy = 2,
    kKindYv12 = 3,
    kKindRgb24Up = 4,
    kKindRgb24Down = 5,
    kKindRgb32Up = 6,
    kKindRgb32Down = 7,
    kKindRgb565Up = 8,
    kKindRgb565Down = 9,
    kKindRgb555Up = 10,
    kKindRgb555Down = 11,
    kKindRgb444Up = 12,
    kKindRgb444Down = 13,
    kKindRgb8Up = 14,
    kKindRgb8Down = 15,
    kKindI420 = 16,  // YV12 with the U plane first
};

// The filter's output geometry record: eleven 32-bit words.
struct OutputGeometry {
    int32_t avgTimePerFrame;  // 100-ns units
    int32_t width;            // decoded luma samples
    int32_t height;
    int32_t left, top, right, bottom;  // crop rectangle in luma samples
    int32_t aspectX, aspectY;
    int32_t pelsPerMeterX, pelsPerMeterY;
    bool operator==(const OutputGeometry&) const = default;
};

// Pixel layouts a media type can name.
enum class PixelLayout { unknown, yuy2, uyvy, yv12, i420, rgb24, rgb32, rgb565, rgb555, rgb444, rgb8 };

// What the converter needs of the connected output type.
struct OutputFormat {
    PixelLayout layout = PixelLayout::unknown;
    int32_t bitmapWidth = 0;   // biWidth: pixels of one stored row
    int32_t bitmapHeight = 0;  // biHeight: > 0 bottom-up (RGB), <= 0 top-down
    int32_t targetLeft = 0, targetTop = 0, targetRight = 0, targetBottom = 0;  // rcTarget
};

// The layout a media type's subtype and bitmap header name: known subtypes first, then
// 16-bit types by their bit-field masks (565, 444, else 555), 24 and 32 bits as RGB.
// `subtypeLayout` is the layout of a known subtype, or unknown.
PixelLayout LayoutFromBitmap(PixelLayout subtypeLayout, int bitCount, bool bitFields, const uint32_t masks[3]);

// Bytes of one picture in `layout` by the DIB rule (rows of whole 32-bit words; planar
// 4:2:0 is width x height x 3 / 2); 0 when the size is unusable.
uint32_t BitmapImageSize(PixelLayout layout, int32_t width, int32_t height);
int BitsPerPixel(PixelLayout layout);

// One decoded picture as the frame store holds it.
struct SourcePicture {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    int32_t pitch = 0;  // bytes between rows of every plane
    int32_t rows = 0;   // decoded luma rows that may be read (chroma: rows / 2)
};

// Colour palette entries 10-245 of the RGB8 output (the dither's 234 colours and two
// blacks); the others come from the system palette.
struct PaletteColour {
    uint8_t red, green, blue;
};
PaletteColour FixedPaletteColour(int index);

class ColourConverter {
public:
    explicit ColourConverter(const OutputGeometry* geometry) : geometry_(geometry) {}

    // Derives the kind, stride, offset and sizes from the output type and the current
    // geometry. False for a type that cannot be converted (unknown layout, a stride that
    // cannot hold a row, a target outside the bitmap); the previous set-up then stays.
    bool SetOutputType(const OutputFormat& format);

    void SetDeinterlaceMode(uint32_t mode) { deinterlace_ = mode; }
    void SetUpsampleHq(bool on) { upsampleHq_ = on; }
    // The SSE2 forms are on by default where the processor has them; off forces the
    // portable forms (they write the same bytes).
    void SetVectorForms(bool on);
    bool VectorForms() const { return simd_; }
    uint32_t DeinterlaceMode() const { return deinterlace_; }
    bool UpsampleHq() const { return upsampleHq_; }

    // Converts one picture into `dest` (of `destSize` bytes). `interlaced` when the stream
    // codes fields (frame_mbs_only_flag 0); `damage` bit 0: top field damaged, bit 1:
    // bottom field. 0 on success; 1 when nothing was written (no type, or the picture
    // does not fit the buffer or the source).
    int Convert(const SourcePicture& source, uint8_t* dest, size_t destSize, bool interlaced, int damage);

    // Bytes Convert writes from the start of the buffer, for the current set-up.
    size_t RequiredBytes() const;

    int Kind() const { return kind_; }
    int32_t Stride() const { return stride_; }
    int32_t Offset() const { return offset_; }
    int32_t RowCount() const { return rows_; }
    int32_t Columns() const { return columns_; }

private:
    static bool DefaultVectorForms();
    struct Rows;
    void ConvertPacked(const SourcePicture& source, uint8_t* first, bool interlaced, int damage);
    void ConvertRgb(const SourcePicture& source, uint8_t* first, bool interlaced, int damage);
    void ConvertPlanar(const SourcePicture& source, uint8_t* dest);
    void InterpolateChroma(const SourcePicture& source, int outRow, bool fieldAware);

    const OutputGeometry* geometry_;
    uint32_t deinterlace_ = 0;
    bool upsampleHq_ = false;
    bool simd_ = DefaultVectorForms();
    int kind_ = kKindNone;
    int32_t stride_ = 0;         // bytes between destination rows (luma plane for planar)
    int32_t offset_ = 0;         // bytes to the first pixel of the target
    int32_t rows_ = 0;           // picture rows written
    int32_t columns_ = 0;        // pixels of each row written
    int32_t planeRows_ = 0;      // planar: rows of the luma plane in the buffer
    std::vector<uint8_t> work_;  // two interpolated chroma lines (U, V) of the 6-tap filter
};

}  // namespace pelldrin

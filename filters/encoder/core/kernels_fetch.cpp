// Block fetches for motion compensation and the macroblock load and store of the
// portable set.
#include <cstring>

#include "filters/encoder/core/kernels_portable.h"

namespace ombrisk {
namespace {

inline uint8_t Average(int a, int b) {
    return static_cast<uint8_t>((a + b + 1) >> 1);
}

template <int W>
void FetchCopy(uint8_t* d, const uint8_t* a, const uint8_t*, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride)
        std::memcpy(d, a, W);
}

template <int W>
void FetchAverage(uint8_t* d, const uint8_t* a, const uint8_t*, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride)
        for (int x = 0; x < W; ++x)
            d[x] = Average(a[x], d[x]);
}

template <int W>
void FetchPhase(uint8_t* d, const uint8_t* a, const uint8_t*, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride)
        for (int x = 0; x < W; ++x)
            d[x] = a[2 * x];
}

template <int W>
void FetchPhaseAverage(uint8_t* d, const uint8_t* a, const uint8_t*, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride)
        for (int x = 0; x < W; ++x)
            d[x] = Average(a[2 * x], d[x]);
}

template <int W>
void FetchTwoPhases(uint8_t* d, const uint8_t* a, const uint8_t* b, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride, b += sStride)
        for (int x = 0; x < W; ++x)
            d[x] = Average(a[2 * x], b[2 * x]);
}

template <int W>
void FetchTwoPhasesAverage(uint8_t* d, const uint8_t* a, const uint8_t* b, int dStride, int sStride, int rows) {
    for (int y = 0; y < rows; ++y, d += dStride, a += sStride, b += sStride)
        for (int x = 0; x < W; ++x)
            d[x] = Average(Average(a[2 * x], b[2 * x]), d[x]);
}

template <int W>
constexpr BlockFetchFn kFetchRow[kBlockFetchMembers] = {&FetchCopy<W>,      &FetchAverage<W>,
                                                        &FetchPhase<W>,     &FetchPhaseAverage<W>,
                                                        &FetchTwoPhases<W>, &FetchTwoPhasesAverage<W>};

void CopyRows(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int width, int rows) {
    for (int y = 0; y < rows; ++y, dst += dstStride, src += srcStride)
        std::memcpy(dst, src, width);
}

void LoadMacroblockPixels(uint8_t* luma, uint8_t* cb, uint8_t* cr, uint8_t* lumaBuf, uint8_t* cbBuf, uint8_t* crBuf,
                          int lumaStride, int chromaStride) {
    CopyRows(lumaBuf, 16, luma, lumaStride, 16, 16);
    CopyRows(cbBuf, 8, cb, chromaStride, 8, 8);
    CopyRows(crBuf, 8, cr, chromaStride, 8, 8);
}

void StoreMacroblockPixels(uint8_t* luma, uint8_t* cb, uint8_t* cr, uint8_t* lumaBuf, uint8_t* cbBuf, uint8_t* crBuf,
                           int lumaStride, int chromaStride) {
    CopyRows(luma, lumaStride, lumaBuf, 16, 16, 16);
    CopyRows(cb, chromaStride, cbBuf, 8, 8, 8);
    CopyRows(cr, chromaStride, crBuf, 8, 8, 8);
}

}  // namespace

void InstallPortableFetch(CKernelTable* t) {
    t->blockFetch4 = kFetchRow<4>;
    t->blockFetch8 = kFetchRow<8>;
    t->blockFetch16 = kFetchRow<16>;
    t->loadMacroblockPixels = &LoadMacroblockPixels;
    t->storeMacroblockPixels = &StoreMacroblockPixels;
}

}  // namespace ombrisk

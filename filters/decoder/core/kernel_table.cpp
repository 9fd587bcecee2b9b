#include "filters/decoder/core/kernel_table.h"

#include <cstdlib>

#include "common/cpu_features.h"

namespace avcdec {

namespace {

inline uint8_t Clip1(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline int Clip3(int lo, int hi, int v) {
    return v < lo ? lo : v > hi ? hi : v;
}

void idct_add_4x4_c(uint8_t* dst, int pitch, const int16_t* c) {
    int t[16];
    for (int i = 0; i < 4; ++i) {  // rows
        const int16_t* d = c + 4 * i;
        const int e0 = d[0] + d[2];
        const int e1 = d[0] - d[2];
        const int e2 = (d[1] >> 1) - d[3];
        const int e3 = d[1] + (d[3] >> 1);
        t[4 * i + 0] = e0 + e3;
        t[4 * i + 1] = e1 + e2;
        t[4 * i + 2] = e1 - e2;
        t[4 * i + 3] = e0 - e3;
    }
    for (int j = 0; j < 4; ++j) {  // columns
        const int e0 = t[j] + t[8 + j];
        const int e1 = t[j] - t[8 + j];
        const int e2 = (t[4 + j] >> 1) - t[12 + j];
        const int e3 = t[4 + j] + (t[12 + j] >> 1);
        const int r[4] = {e0 + e3, e1 + e2, e1 - e2, e0 - e3};
        for (int i = 0; i < 4; ++i)
            dst[i * pitch + j] = Clip1(dst[i * pitch + j] + ((r[i] + 32) >> 6));
    }
}

// With only the DC, both passes of the transform pass it through unchanged.
void idct_dc_add_4x4_c(uint8_t* dst, int pitch, int dc) {
    const int add = (dc + 32) >> 6;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            dst[i * pitch + j] = Clip1(dst[i * pitch + j] + add);
}

// Clause 8.7.2.3, bS below 4.
template <bool kLuma>
void deblock_normal_c(uint8_t* q0p, int step, int along, int lines, int alpha, int beta, int tc0) {
    for (int k = 0; k < lines; ++k, q0p += along) {
        const int p0 = q0p[-step], p1 = q0p[-2 * step], q0 = q0p[0], q1 = q0p[step];
        if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
        int tc = tc0 + 1;
        int ap = 0, aq = 0;
        if (kLuma) {
            const int p2 = q0p[-3 * step], q2 = q0p[2 * step];
            ap = std::abs(p2 - p0) < beta;
            aq = std::abs(q2 - q0) < beta;
            tc = tc0 + ap + aq;
            if (ap)
                q0p[-2 * step] = static_cast<uint8_t>(p1 + Clip3(-tc0, tc0, (p2 + ((p0 + q0 + 1) >> 1) - 2 * p1) >> 1));
            if (aq) q0p[step] = static_cast<uint8_t>(q1 + Clip3(-tc0, tc0, (q2 + ((p0 + q0 + 1) >> 1) - 2 * q1) >> 1));
        }
        const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
        q0p[-step] = Clip1(p0 + delta);
        q0p[0] = Clip1(q0 - delta);
    }
}

// Clause 8.7.2.4, bS 4.
template <bool kLuma>
void deblock_strong_c(uint8_t* q0p, int step, int along, int lines, int alpha, int beta, int) {
    for (int k = 0; k < lines; ++k, q0p += along) {
        const int p0 = q0p[-step], p1 = q0p[-2 * step], q0 = q0p[0], q1 = q0p[step];
        if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
        if (kLuma) {
            const int p2 = q0p[-3 * step], q2 = q0p[2 * step];
            const int p3 = q0p[-4 * step], q3 = q0p[3 * step];
            const bool smallGap = std::abs(p0 - q0) < ((alpha >> 2) + 2);
            if (smallGap && std::abs(p2 - p0) < beta) {
                q0p[-step] = static_cast<uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
                q0p[-2 * step] = static_cast<uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
                q0p[-3 * step] = static_cast<uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
            } else {
                q0p[-step] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            }
            if (smallGap && std::abs(q2 - q0) < beta) {
                q0p[0] = static_cast<uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
                q0p[step] = static_cast<uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
                q0p[2 * step] = static_cast<uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
            } else {
                q0p[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
            }
        } else {
            q0p[-step] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            q0p[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
        }
    }
}

}  // namespace

void InstallPortableDecoderKernels(DecoderKernelTable* t) {
    t->inverseTransformAdd4x4 = idct_add_4x4_c;
    t->addDc4x4 = idct_dc_add_4x4_c;
    t->deblockLumaNormal = deblock_normal_c<true>;
    t->deblockLumaStrong = deblock_strong_c<true>;
    t->deblockChromaNormal = deblock_normal_c<false>;
    t->deblockChromaStrong = deblock_strong_c<false>;
    t->lumaMotion = luma_mc_c;
    t->chromaMotion = chroma_mc_c;
    t->weightBi = WeightSamplesBi;
    t->average = AverageSamples;
}

void FillDecoderKernelTable(DecoderKernelTable* t, uint32_t featureWord) {
    InstallPortableDecoderKernels(t);
    t->featureWord = featureWord;
    t->motionForms = SelectMotionKernelForms(featureWord);
#ifdef AVCDEC_HAVE_SSE2
    if (featureWord & common::kCpuSse2) {
        t->lumaMotion = luma_mc_sse2;
        t->chromaMotion = chroma_mc_sse2;
        t->weightBi = weight_bi_sse2;
        t->average = average_sse2;
    }
#endif
}

namespace {

DecoderKernelTable& ProcessTable() {
    static DecoderKernelTable table = [] {
        DecoderKernelTable t{};
        FillDecoderKernelTable(&t, common::DetectCpuFeatures());
        return t;
    }();
    return table;
}

}  // namespace

const DecoderKernelTable& DecoderKernels() {
    return ProcessTable();
}

void ReselectDecoderKernels(uint32_t featureWord) {
    FillDecoderKernelTable(&ProcessTable(), featureWord);
}

}  // namespace avcdec

// Deblocking edge filters of the portable set (H.264 clauses 8.7.2.3, 8.7.2.4).
#include <algorithm>
#include <cstdlib>

#include "filters/encoder/core/kernels_portable.h"

namespace ombrisk {
namespace {

inline uint8_t Clip255(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// p3 points at the fourth sample before the edge; `across` steps over the edge, `along`
// from one line to the next. Chroma reads p1, p0, q0, q1 only.
template <bool Luma, bool Strong>
void FilterEdge(uint8_t* p3, int across, int along, int alpha, int beta, int tc0) {
    constexpr int lines = Luma ? 4 : 2;
    for (int line = 0; line < lines; ++line) {
        uint8_t* s = p3 + line * along + 3 * across;                       // p0
        const auto at = [&](int k) -> uint8_t& { return s[k * across]; };  // q_k = at(k+1)
        const int p0 = at(0), p1 = at(-1), q0 = at(1), q1 = at(2);
        if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
        if constexpr (!Luma) {
            if constexpr (Strong) {
                at(0) = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
                at(1) = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
            } else {
                const int tc = tc0 + 1;
                const int delta = std::clamp((((q0 - p0) * 4) + (p1 - q1) + 4) >> 3, -tc, tc);
                at(0) = Clip255(p0 + delta);
                at(1) = Clip255(q0 - delta);
            }
            continue;
        }
        const int p2 = at(-2), q2 = at(3);
        const bool ap = std::abs(p2 - p0) < beta, aq = std::abs(q2 - q0) < beta;
        if constexpr (Strong) {
            const bool close = std::abs(p0 - q0) < (alpha >> 2) + 2;
            if (ap && close) {
                const int p3v = at(-3);
                at(0) = static_cast<uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
                at(-1) = static_cast<uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
                at(-2) = static_cast<uint8_t>((2 * p3v + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
            } else {
                at(0) = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            }
            if (aq && close) {
                const int q3v = at(4);
                at(1) = static_cast<uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
                at(2) = static_cast<uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
                at(3) = static_cast<uint8_t>((2 * q3v + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
            } else {
                at(1) = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
            }
        } else {
            const int tc = tc0 + ap + aq;
            const int delta = std::clamp((((q0 - p0) * 4) + (p1 - q1) + 4) >> 3, -tc, tc);
            at(0) = Clip255(p0 + delta);
            at(1) = Clip255(q0 - delta);
            const int mean = (p0 + q0 + 1) >> 1;
            if (ap) at(-1) = static_cast<uint8_t>(p1 + std::clamp((p2 + mean - 2 * p1) >> 1, -tc0, tc0));
            if (aq) at(2) = static_cast<uint8_t>(q1 + std::clamp((q2 + mean - 2 * q1) >> 1, -tc0, tc0));
        }
    }
}

void NoFilter(uint8_t*, int, int, int, int) {}

template <bool Luma, bool Vertical, bool Strong>
void Edge(uint8_t* p3, int stride, int alpha, int beta, int tc0) {
    // A vertical edge has its samples across it side by side; a horizontal one, a stride apart.
    FilterEdge<Luma, Strong>(p3, Vertical ? 1 : stride, Vertical ? stride : 1, alpha, beta, tc0);
}

template <bool Luma, bool Vertical>
constexpr DeblockEdgeFn kKind[kDeblockStrengths] = {&NoFilter, &Edge<Luma, Vertical, false>,
                                                    &Edge<Luma, Vertical, false>, &Edge<Luma, Vertical, false>,
                                                    &Edge<Luma, Vertical, true>};

// [edge kind x 5 + bS]: kinds luma vertical, luma horizontal, chroma vertical, chroma
// horizontal.
constexpr DeblockEdgeFn kDeblock[kDeblockKinds * kDeblockStrengths] = {
    kKind<true, true>[0],   kKind<true, true>[1],   kKind<true, true>[2],   kKind<true, true>[3],
    kKind<true, true>[4],   kKind<true, false>[0],  kKind<true, false>[1],  kKind<true, false>[2],
    kKind<true, false>[3],  kKind<true, false>[4],  kKind<false, true>[0],  kKind<false, true>[1],
    kKind<false, true>[2],  kKind<false, true>[3],  kKind<false, true>[4],  kKind<false, false>[0],
    kKind<false, false>[1], kKind<false, false>[2], kKind<false, false>[3], kKind<false, false>[4]};

}  // namespace

void InstallPortableDeblock(CKernelTable* t) {
    t->deblockEdge = kDeblock;
}

}  // namespace ombrisk

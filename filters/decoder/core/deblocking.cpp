// The in-loop deblocking filter over a decoded frame (ITU-T H.264 clause 8.7).
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "filters/decoder/core/decoder_context.h"
#include "filters/decoder/core/kernel_table.h"
#include "filters/decoder/core/picture_store.h"
#include "filters/decoder/core/slice_decoding.h"
#include "filters/decoder/core/slice_header.h"

namespace avcdec {

namespace {

// Table 8-16: alpha' and beta' by indexA / indexB.
constexpr uint8_t kAlpha[52] = {0,  0,  0,  0,  0,  0,  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,  4,  4,
                                5,  6,  7,  8,  9,  10, 12,  13,  15,  17,  20,  22,  25,  28,  32,  36, 40, 45,
                                50, 56, 63, 71, 80, 90, 101, 113, 127, 144, 162, 182, 203, 226, 255, 255};
constexpr uint8_t kBeta[52] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0, 2,  2,
                               2,  3,  3,  3,  3,  4,  4,  4,  6,  6,  7,  7,  8,  8,  9,  9, 10, 10,
                               11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18};
// Table 8-17: tC0 by indexA for bS 1, 2, 3.
constexpr uint8_t kTc0[52][3] = {
    {0, 0, 0},  {0, 0, 0},   {0, 0, 0},   {0, 0, 0},   {0, 0, 0},    {0, 0, 0},    {0, 0, 0},   {0, 0, 0},  {0, 0, 0},
    {0, 0, 0},  {0, 0, 0},   {0, 0, 0},   {0, 0, 0},   {0, 0, 0},    {0, 0, 0},    {0, 0, 0},   {0, 0, 0},  {0, 0, 1},
    {0, 0, 1},  {0, 0, 1},   {0, 0, 1},   {0, 1, 1},   {0, 1, 1},    {1, 1, 1},    {1, 1, 1},   {1, 1, 1},  {1, 1, 1},
    {1, 1, 2},  {1, 1, 2},   {1, 1, 2},   {1, 1, 2},   {1, 2, 3},    {1, 2, 3},    {2, 2, 3},   {2, 2, 4},  {2, 3, 4},
    {2, 3, 4},  {3, 3, 5},   {3, 4, 6},   {3, 4, 6},   {4, 5, 7},    {4, 5, 8},    {4, 6, 9},   {5, 7, 10}, {6, 8, 11},
    {6, 8, 13}, {7, 10, 14}, {8, 11, 16}, {9, 12, 18}, {10, 13, 20}, {11, 15, 23}, {13, 17, 25}};

int ChromaQpOf(const MacroblockInfo* mb) {
    return ChromaQp(std::clamp(mb->qp + mb->chromaQpIndexOffset, 0, 51));
}

// Motion test for two blocks (clause 8.7.2.1, bS 1 or 0).
int MotionStrength(const MacroblockInfo* p, int bp, const MacroblockInfo* q, int bq) {
    const int qp8 = (bp / 8) * 2 + (bp % 4) / 2, qq8 = (bq / 8) * 2 + (bq % 4) / 2;
    const int32_t p0 = p->refPicId[0][qp8], p1 = p->refPicId[1][qp8];
    const int32_t q0 = q->refPicId[0][qq8], q1 = q->refPicId[1][qq8];
    auto far = [](const int16_t* a, const int16_t* b) {
        return std::abs(a[0] - b[0]) >= 4 || std::abs(a[1] - b[1]) >= 4;
    };
    const int pn = (p0 >= 0) + (p1 >= 0), qn = (q0 >= 0) + (q1 >= 0);
    if (pn != qn) return 1;
    if (pn == 1) {
        const int lp = p0 >= 0 ? 0 : 1, lq = q0 >= 0 ? 0 : 1;
        if (p->refPicId[lp][qp8] != q->refPicId[lq][qq8]) return 1;
        return far(p->mv[lp][bp], q->mv[lq][bq]) ? 1 : 0;
    }
    if (pn == 0) return 0;
    if (!((p0 == q0 && p1 == q1) || (p0 == q1 && p1 == q0))) return 1;
    const bool straight = far(p->mv[0][bp], q->mv[0][bq]) || far(p->mv[1][bp], q->mv[1][bq]);
    const bool crossed = far(p->mv[0][bp], q->mv[1][bq]) || far(p->mv[1][bp], q->mv[0][bq]);
    if (p0 != p1) return (p0 == q0 ? straight : crossed) ? 1 : 0;
    return (straight && crossed) ? 1 : 0;
}

// bS of the edge between block bp of p and block bq of q; mbEdge for macroblock edges.
int Strength(const MacroblockInfo* p, int bp, const MacroblockInfo* q, int bq, bool mbEdge) {
    if ((p->flags & kMbIntra) || (q->flags & kMbIntra)) return mbEdge ? 4 : 3;
    if (p->totalCoeff[bp] != 0 || q->totalCoeff[bq] != 0) return 2;
    return MotionStrength(p, bp, q, bq);
}

// Strength of a macroblock edge segment (mbEdge); when both macroblocks carry one motion
// over all their blocks, the motion test gives every segment one answer, kept in *motion
// (-1 until the first segment needs it).
int MacroblockEdgeStrength(const MacroblockInfo* p, int bp, const MacroblockInfo* q, int bq, int* motion) {
    if ((p->sameMotion & q->sameMotion & kSameMotionIn16x16) == 0) return Strength(p, bp, q, bq, true);
    if ((p->flags & kMbIntra) || (q->flags & kMbIntra)) return 4;
    if (p->totalCoeff[bp] != 0 || q->totalCoeff[bq] != 0) return 2;
    if (*motion < 0) *motion = MotionStrength(p, bp, q, bq);
    return *motion;
}

struct EdgeStrengths {
    uint8_t bs[2][4][4];  // [0 vertical, 1 horizontal][edge][segment]
    bool filterLeft, filterTop;
};

void ComputeStrengths(const MacroblockInfo* cur, const MacroblockInfo* left, const MacroblockInfo* top,
                      EdgeStrengths* e) {
    e->filterLeft = left != nullptr;
    e->filterTop = top != nullptr;
    // One inter partition over the whole macroblock: every inner edge has the same
    // references and vectors on both sides, so only coefficients can make it filtered.
    const bool uniform = (cur->flags & kMbIntra) == 0 && cur->partShape == 0 && cur->directMask == 0;
    int leftMotion = -1, topMotion = -1;
    for (int edge = 0; edge < 4; ++edge) {
        for (int k = 0; k < 4; ++k) {
            // Vertical edge `edge`, rows of segment k; horizontal edge `edge`, columns k.
            const int qv = 4 * k + edge, qh = 4 * edge + k;
            if (edge == 0) {
                e->bs[0][0][k] =
                    left ? static_cast<uint8_t>(MacroblockEdgeStrength(left, 4 * k + 3, cur, qv, &leftMotion)) : 0;
                e->bs[1][0][k] =
                    top ? static_cast<uint8_t>(MacroblockEdgeStrength(top, 12 + k, cur, qh, &topMotion)) : 0;
            } else if (uniform || InnerEdgeHasSameMotion(cur, edge)) {
                e->bs[0][edge][k] = cur->totalCoeff[qv - 1] != 0 || cur->totalCoeff[qv] != 0 ? 2 : 0;
                e->bs[1][edge][k] = cur->totalCoeff[qh - 4] != 0 || cur->totalCoeff[qh] != 0 ? 2 : 0;
            } else {
                e->bs[0][edge][k] = static_cast<uint8_t>(Strength(cur, qv - 1, cur, qv, false));
                e->bs[1][edge][k] = static_cast<uint8_t>(Strength(cur, qh - 4, cur, qh, false));
            }
        }
    }
}

// Filters the edges of one macroblock in one plane (origin: its top-left sample).
void FilterPlaneEdges(uint8_t* origin, int pitch, bool luma, const EdgeStrengths& e, const MacroblockInfo* cur,
                      const MacroblockInfo* left, const MacroblockInfo* top, const DecoderKernelTable& k) {
    const int qpCur = luma ? cur->qp : ChromaQpOf(cur);
    for (int dir = 0; dir < 2; ++dir) {
        const MacroblockInfo* neighbour = dir == 0 ? left : top;
        const int step = dir == 0 ? 1 : pitch;   // across the edge
        const int along = dir == 0 ? pitch : 1;  // along the edge
        const int edges = luma ? 4 : 2;
        for (int edge = 0; edge < edges; ++edge) {
            const int lumaEdge = luma ? edge : 2 * edge;
            if (lumaEdge == 0 && neighbour == nullptr) continue;
            const uint8_t* bs = e.bs[dir][lumaEdge];
            if ((bs[0] | bs[1] | bs[2] | bs[3]) == 0) continue;
            int qpAv = qpCur;
            if (lumaEdge == 0) {
                const int qpN = luma ? neighbour->qp : ChromaQpOf(neighbour);
                qpAv = (qpN + qpCur + 1) >> 1;
            }
            const int indexA = std::clamp(qpAv + cur->filterOffsetA, 0, 51);
            const int indexB = std::clamp(qpAv + cur->filterOffsetB, 0, 51);
            const int alpha = kAlpha[indexA], beta = kBeta[indexB];
            if (alpha == 0 || beta == 0) continue;
            uint8_t* edgeStart = origin + 4 * edge * step;
            const int linesPerSegment = luma ? 4 : 2;
            if (luma && dir == 1 && bs[0] != 4 && bs[1] != 4 && bs[2] != 4 && bs[3] != 4) {
                int8_t tc0[4];
                for (int seg = 0; seg < 4; ++seg)
                    tc0[seg] = static_cast<int8_t>(bs[seg] == 0 ? -1 : kTc0[indexA][bs[seg] - 1]);
                k.deblockLumaHorizontal16(edgeStart, step, along, alpha, beta, tc0);
                continue;
            }
            for (int seg = 0; seg < 4; ++seg) {
                const int bS = e.bs[dir][lumaEdge][seg];
                if (bS == 0) continue;
                uint8_t* q0 = edgeStart + seg * linesPerSegment * along;
                if (bS == 4) {
                    (luma ? k.deblockLumaStrong : k.deblockChromaStrong)(q0, step, along, linesPerSegment, alpha, beta,
                                                                         0);
                } else {
                    (luma ? k.deblockLumaNormal : k.deblockChromaNormal)(q0, step, along, linesPerSegment, alpha, beta,
                                                                         kTc0[indexA][bS - 1]);
                }
            }
        }
    }
}

}  // namespace

// One macroblock's edge record of a deblocking pass: its boundary strengths and the
// neighbours its outer edges are filtered against (-1: that edge stays as it is).
struct MacroblockEdges {
    EdgeStrengths strengths;
    int32_t left, top;
    bool filtered;
};

// The deblocking worker: it filters the chroma planes of a picture while the decoding
// thread filters luma. A posted job the worker has not yet taken is taken back by the
// decoding thread, so that thread only ever waits for work in progress, which is finite.
struct DeblockWorker {
    std::mutex lock;
    std::condition_variable wake;      // to the worker: a job is posted, or stop
    std::condition_variable finished;  // to the decoding thread: the job is done
    enum class State { kIdle, kPosted, kRunning, kDone } state = State::kIdle;
    bool stop = false;
    // The job: valid from posting until it is done or taken back.
    PlaneView planes{};
    const MacroblockInfo* mbInfo = nullptr;
    int32_t picWidthInMbs = 0;
    int32_t mbCount = 0;
    std::vector<MacroblockEdges> edges;  // one record per macroblock of the frame
    std::thread thread;
};

namespace {

void FilterPlanes(const PlaneView& pv, const MacroblockInfo* mbInfo, const MacroblockEdges* edges,
                  int32_t picWidthInMbs, int32_t mbCount, bool luma) {
    const DecoderKernelTable& k = DecoderKernels();
    for (int32_t n = 0; n < mbCount; ++n) {
        const MacroblockEdges& e = edges[n];
        if (!e.filtered) continue;
        const int32_t x = n % picWidthInMbs, y = n / picWidthInMbs;
        const MacroblockInfo* left = e.left >= 0 ? &mbInfo[e.left] : nullptr;
        const MacroblockInfo* top = e.top >= 0 ? &mbInfo[e.top] : nullptr;
        if (luma) {
            FilterPlaneEdges(pv.y + 16 * y * pv.pitch + 16 * x, pv.pitch, true, e.strengths, &mbInfo[n], left, top, k);
        } else {
            FilterPlaneEdges(pv.u + 8 * y * pv.pitch + 8 * x, pv.pitch, false, e.strengths, &mbInfo[n], left, top, k);
            FilterPlaneEdges(pv.v + 8 * y * pv.pitch + 8 * x, pv.pitch, false, e.strengths, &mbInfo[n], left, top, k);
        }
    }
}

void FilterChromaJob(DeblockWorker* wk) {
    FilterPlanes(wk->planes, wk->mbInfo, wk->edges.data(), wk->picWidthInMbs, wk->mbCount, false);
}

void WorkerLoop(DeblockWorker* wk) {
    std::unique_lock<std::mutex> hold(wk->lock);
    for (;;) {
        wk->wake.wait(hold, [wk] { return wk->stop || wk->state == DeblockWorker::State::kPosted; });
        if (wk->stop) return;
        wk->state = DeblockWorker::State::kRunning;
        hold.unlock();
        FilterChromaJob(wk);
        hold.lock();
        wk->state = DeblockWorker::State::kDone;
        wk->finished.notify_one();
    }
}

}  // namespace

DeblockWorker* StartDeblockWorker(int32_t mbCount) {
    auto* wk = new (std::nothrow) DeblockWorker;
    if (wk == nullptr) return nullptr;
    try {
        wk->edges.resize(static_cast<size_t>(mbCount));
        wk->thread = std::thread(WorkerLoop, wk);
    } catch (...) {  // no memory or no thread: the caller refuses the picture size
        delete wk;
        return nullptr;
    }
    return wk;
}

void StopDeblockWorker(DeblockWorker* wk) {
    if (wk == nullptr) return;
    {
        std::lock_guard<std::mutex> hold(wk->lock);
        wk->stop = true;
    }
    wk->wake.notify_one();
    wk->thread.join();  // an idle worker ends at once; a running one after its job
    delete wk;
}

void DeblockPicture(AvcDecoderContext* ctx, PictureRecord* pic) {
    DeblockWorker* wk = ctx->deblockWorker;
    const int32_t w = ctx->picWidthInMbs;
    const int32_t first = pic->firstSliceNumber;
    std::vector<MacroblockEdges> local;
    MacroblockEdges* edges = nullptr;
    if (wk != nullptr) {
        edges = wk->edges.data();
    } else {
        local.resize(static_cast<size_t>(ctx->mbCount));
        edges = local.data();
    }
    // Boundary strengths of the whole picture first: both planes' passes read them.
    for (int32_t n = 0; n < ctx->mbCount; ++n) {
        const MacroblockInfo* cur = &pic->mbInfo[n];
        MacroblockEdges& e = edges[n];
        e.filtered = cur->sliceNumber >= first && cur->disableDeblockingFilterIdc != 1;
        if (!e.filtered) continue;
        const int32_t x = n % w, y = n / w;
        e.left = x > 0 ? n - 1 : -1;
        e.top = y > 0 ? n - w : -1;
        // Neighbours not decoded in this picture, or of another slice under idc 2, keep
        // their edge unfiltered.
        for (int32_t* nb : {&e.left, &e.top}) {
            if (*nb < 0) continue;
            const MacroblockInfo* m = &pic->mbInfo[*nb];
            if (m->sliceNumber < first || (cur->disableDeblockingFilterIdc == 2 && m->sliceNumber != cur->sliceNumber))
                *nb = -1;
        }
        ComputeStrengths(cur, e.left >= 0 ? &pic->mbInfo[e.left] : nullptr, e.top >= 0 ? &pic->mbInfo[e.top] : nullptr,
                         &e.strengths);
    }
    if (wk == nullptr) {
        FilterPlanes(pic->frame, pic->mbInfo, edges, w, ctx->mbCount, true);
        FilterPlanes(pic->frame, pic->mbInfo, edges, w, ctx->mbCount, false);
        return;
    }
    {
        std::lock_guard<std::mutex> hold(wk->lock);
        wk->planes = pic->frame;
        wk->mbInfo = pic->mbInfo;
        wk->picWidthInMbs = w;
        wk->mbCount = ctx->mbCount;
        wk->state = DeblockWorker::State::kPosted;
    }
    wk->wake.notify_one();
    FilterPlanes(pic->frame, pic->mbInfo, edges, w, ctx->mbCount, true);
    std::unique_lock<std::mutex> hold(wk->lock);
    if (wk->state == DeblockWorker::State::kPosted) {
        // Not taken yet (the worker is starved of processor time): do it here.
        wk->state = DeblockWorker::State::kIdle;
        hold.unlock();
        FilterChromaJob(wk);
        return;
    }
    wk->finished.wait(hold, [wk] { return wk->state == DeblockWorker::State::kDone; });
    wk->state = DeblockWorker::State::kIdle;
}

}  // namespace avcdec

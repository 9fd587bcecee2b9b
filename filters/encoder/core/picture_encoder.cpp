#include "filters/encoder/core/picture_encoder.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/rate_control.h"

namespace ombrisk {
namespace {

int SliceCount(const EncoderBlock& block) {
    const int count = std::max(block.macroblocks.count, 1);
    return std::clamp(block.param(kParSliceCount), 1, std::min(count, int{kNoSlice} - 1));
}

// cabac_zero_word bytes a CABAC slice of `macroblocks` may need at most (clause 7.4.2.10).
size_t CabacPaddingBound(const EncoderBlock& block, size_t macroblocks) {
    if (block.param(kParCabac) != 1) return 0;
    const auto mbs = static_cast<int64_t>(macroblocks);
    return static_cast<size_t>(MinimumCabacPictureBytes(kMaxCabacBinsPerMb * mbs, mbs));
}

}  // namespace

CPictureEncoder::SliceWorker::SliceWorker(const EncoderBlock& block, size_t payloadBytes, size_t macroblocks)
    : coder(CMbCoder::Create(block, block.param(kParMbCoderLevel), &writer)),
      nal(payloadBytes, CNalWriter::OutputBytesFor(payloadBytes, CabacPaddingBound(block, macroblocks))) {
    if (block.param(kParCabac) == 1) {
        cabac = std::make_unique<CCabacWriter>(block, payloadBytes);
        coder->UseCabacCounts(cabac.get());
    }
}

CPictureEncoder::CPictureEncoder(const EncoderBlock& block, int processors)
    : block_(block), status_(kCoreOk), loopFilter_(block), headers_(&block) {
    const int count = std::max(block.macroblocks.count, 1), slices = SliceCount(block);
    group_ = std::make_unique<CWorkerGroup>(CWorkerGroup::ThreadsFor(slices, processors));
    const int rows = std::max(block.macroblocks.rows, 1);
    lumaFiltered_ = std::make_unique<std::atomic<int>[]>(size_t(rows));
    chromaFiltered_ = std::make_unique<std::atomic<int>[]>(size_t(rows));
    lumaPadded_ = std::make_unique<std::atomic<int>[]>(size_t(rows));
    for (int s = 0; s < slices; ++s)
        sliceCoded_.push_back(std::make_unique<common::Event>(common::Event::Mode::ManualReset));
    // The sequence parameter set's max_num_ref_frames: the P references, and one more
    // for the picture after the B pictures.
    listLimit_ = std::clamp(block.param(kParRefFrames), 1, kMaxListRefs - 1);
    maxReferences_ = listLimit_ + (block.param(kParBFrames) > 0 ? 1 : 0);
    const size_t pictures = size_t(maxReferences_ + 1);
    slices_.resize(size_t(slices));
    pool_.resize(pictures);
    slots_.resize(pictures);
    quarter_.resize(pictures);
    coarse_.resize(pictures);
    // The slice workers and picture buffers are built by the group: most of the time goes
    // to first touches of their memory, which threads take in parallel. Each item writes
    // only its own entries.
    const bool searchOn = block.param(kParMotionSearch) == 1;
    // A failed allocation reaches the caller as it would without threads.
    std::vector<std::exception_ptr> failures(size_t(slices) + pictures);
    const auto buildItem = [&](int item) {
        if (item < slices) {
            // Each slice's buffers hold the most its macroblocks can take (every one as
            // I_PCM), so no slice can overflow them.
            const int s = item;
            const int first = int(int64_t(count) * s / slices), end = int(int64_t(count) * (s + 1) / slices);
            // With CABAC each macroblock also carries mb_skip_flag and end_of_slice_flag
            // outside its macroblock_layer: at most 6 + 1 bits, one byte more per
            // macroblock.
            const size_t n = size_t(end - first), cabacBytes = block.param(kParCabac) == 1 ? n : 0;
            auto worker = std::make_unique<SliceWorker>(block, SlicePayloadBound(n) + cabacBytes, n);
            worker->first = first;
            worker->end = end;
            slices_[size_t(s)] = std::move(worker);
            return;
        }
        const size_t i = size_t(item - slices);
        pool_[i] = std::make_unique<CRefPictureStore>(block);
        const CRefPictureStore& p = *pool_[i];
        if (!searchOn || !p.valid()) return;
        Downscale(p.luma(), p.lumaStride(), p.width(), p.height(), &quarter_[i]);
        coarse_[i].Resize(block.macroblocks.columns, block.macroblocks.rows);
    };
    group_->Run(slices + int(pictures), [&](int item) {
        try {
            buildItem(item);
        } catch (...) {
            failures[size_t(item)] = std::current_exception();
        }
    });
    for (const std::exception_ptr& f : failures)
        if (f) std::rethrow_exception(f);
    for (const auto& p : pool_)
        if (!p->valid()) status_ = kCoreNotInitialised;
    if (!block.initialised()) status_ = kCoreNotInitialised;
    if (block.param(kParCabac) != 0 && block.param(kParCabac) != 1) status_ = kCoreUnsupported;
    // Motion search is on (1) or off (0); no other value selects a motion object.
    const int32_t search = block.param(kParMotionSearch);
    if (search != 0 && search != 1) status_ = kCoreUnsupported;
}

void CPictureEncoder::BuildLists(const PictureOrder& order) {
    lists_ = InterReferences{};
    std::vector<int> refs;
    for (int i = 0; i < int(slots_.size()); ++i)
        if (slots_[i].reference) refs.push_back(i);
    const bool coarse = block_.param(kParMotionSearch) == 1;
    const auto add = [&](int list, int slot) {
        if (lists_.count[list] >= kMaxListRefs) return;
        lists_.list[list][lists_.count[list]] = pool_[slot].get();
        lists_.coarse[list][lists_.count[list]] = coarse ? &coarse_[slot] : nullptr;
        lists_.id[list][lists_.count[list]] = static_cast<uint8_t>(slot + 1);
        ++lists_.count[list];
    };
    if (order.sliceType == kSliceP) {
        // Short-term references by descending PicNum: the most recently decoded first.
        std::sort(refs.begin(), refs.end(),
                  [&](int a, int b) { return slots_[a].decodeOrder > slots_[b].decodeOrder; });
        for (int i = 0; i < int(refs.size()) && i < listLimit_; ++i)
            add(0, refs[i]);
    } else if (order.sliceType == kSliceB) {
        // List 0: the past by descending display order; list 1: the future by ascending
        // (clause 8.2.4.2.3). Only the past in list 0 and the nearest future in list 1
        // are made active.
        std::vector<int> past, future;
        for (int r : refs)
            (slots_[r].display < order.displayNumber ? past : future).push_back(r);
        std::sort(past.begin(), past.end(), [&](int a, int b) { return slots_[a].display > slots_[b].display; });
        std::sort(future.begin(), future.end(), [&](int a, int b) { return slots_[a].display < slots_[b].display; });
        for (int i = 0; i < int(past.size()) && i < listLimit_; ++i)
            add(0, past[i]);
        if (!future.empty()) add(1, future[0]);
    }
}

int CPictureEncoder::Bands() const {
    return std::clamp(group_->threads(), 1, int{CRefPictureStore::kMaxHalfSampleBands});
}

namespace {

// Waits until another thread has counted `target` in `counter`; the acquire load makes
// what it wrote before counting visible here. A macroblock takes microseconds: spin
// first, then give the processor up, then (its thread is not running) sleep in short
// steps.
void WaitForCount(const std::atomic<int>& counter, int target) {
    for (int spins = 0; counter.load(std::memory_order_acquire) < target; ++spins)
        if (spins >= 4096)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        else if (spins >= 64)
            std::this_thread::yield();
}

}  // namespace

void CPictureEncoder::ResetRows() {
    for (int y = 0; y < block_.macroblocks.rows; ++y) {
        lumaFiltered_[size_t(y)].store(0, std::memory_order_relaxed);
        chromaFiltered_[size_t(y)].store(0, std::memory_order_relaxed);
        lumaPadded_[size_t(y)].store(0, std::memory_order_relaxed);
    }
}

void CPictureEncoder::FilterRow(CRefPictureStore* picture, int y, bool pad) {
    const int rows = block_.macroblocks.rows, cols = block_.macroblocks.columns;
    loopFilter_.ComputeStrengths(picture, y, y + 1);
    for (int plane = 0; plane < 2; ++plane) {
        std::atomic<int>* filtered = plane == 0 ? lumaFiltered_.get() : chromaFiltered_.get();
        for (int x = 0; x < cols; ++x) {
            if (y > 0) WaitForCount(filtered[y - 1], std::min(x + 2, cols));
            if (plane == 0)
                loopFilter_.FilterLumaMacroblock(picture, x, y);
            else
                loopFilter_.FilterChromaMacroblock(picture, x, y);
            filtered[y].store(x + 1, std::memory_order_release);
        }
        if (!pad) continue;
        // Row y was the last to change the lines of row y - 1 (the row above waited for
        // is complete); the last row's own lines are final with it.
        const auto padRows = [&](int first, int end) {
            plane == 0 ? picture->PadLumaRows(first, end) : picture->PadChromaRows(first, end);
        };
        if (y > 0) padRows(y - 1, y);
        if (y == rows - 1) padRows(y, y + 1);
        if (plane != 0) continue;
        if (y > 0) lumaPadded_[size_t(y - 1)].store(1, std::memory_order_release);
        if (y == rows - 1) lumaPadded_[size_t(y)].store(1, std::memory_order_release);
    }
}

void CPictureEncoder::HalfSampleBandAfterRows(CRefPictureStore* picture, int band, int bands) {
    // The band's output lines of the padded plane (kPlaneBorder lines above the picture)
    // read the padded luma lines up to 3 below its last: the macroblock rows up to the
    // one holding them (the borders are padded with the first and the last row).
    const int rows = block_.macroblocks.rows, lines = picture->height() + 2 * kPlaneBorder;
    const int end = int(int64_t(lines) * (band + 1) / bands);
    const int lastRow = std::clamp((end + 2 - kPlaneBorder) / 16, 0, rows - 1);
    for (int y = 0; y <= lastRow; ++y)
        WaitForCount(lumaPadded_[size_t(y)], 1);
    picture->BuildHalfSamplePlane(band, bands);
}

void CPictureEncoder::DeblockLastPicture() {
    if (currentFiltered_) return;
    currentFiltered_ = true;
    if (!(block_.param(kParFlags) & kFlagDeblocking)) return;
    ResetRows();
    // The group hands out rows in order, so the row above is always in hand when a row
    // waits for it.
    group_->Run(block_.macroblocks.rows, [&](int y) { FilterRow(pool_[current_].get(), y, false); });
}

int CPictureEncoder::EncodePicture(const PlanarPicture& source, const PictureOrder& order, std::vector<uint8_t>* out) {
    if (status_ != kCoreOk) return status_;
    if (!out || !source.y || !source.cb || !source.cr) return kCoreBadArgument;
    if (order.sliceType != kSliceI && order.sliceType != kSliceP && order.sliceType != kSliceB) return kCoreBadArgument;
    if (codingNumber_ == 0 && !order.idr) return kCoreBadArgument;
    const bool reference = order.sliceType != kSliceB && order.reference;
    if (order.idr) {
        if (order.sliceType != kSliceI) return kCoreBadArgument;
        for (Slot& s : slots_)
            s.reference = false;
    }
    BuildLists(order);
    // The sequence declares no reference frames when kParRefFrames is 0: I pictures only.
    if (order.sliceType != kSliceI && block_.param(kParRefFrames) <= 0) return kCoreBadArgument;
    if (order.sliceType == kSliceP && lists_.count[0] == 0) return kCoreBadArgument;
    if (order.sliceType == kSliceB && (lists_.count[0] == 0 || lists_.count[1] == 0)) return kCoreBadArgument;

    // A free picture buffer: the pool holds one more than the references.
    int slot = -1;
    for (int i = 0; i < int(slots_.size()) && slot < 0; ++i)
        if (!slots_[i].reference) slot = i;
    if (slot < 0) return kCoreBadArgument;
    CRefPictureStore& picture = *pool_[slot];

    PictureHeaderInfo pic;
    pic.codingNumber = codingNumber_;
    pic.sliceTypeCode = order.sliceType;
    pic.idr = order.idr;
    pic.displayNumber = order.displayNumber;
    pic.reference = reference;
    numbering_.Next(&pic);
    bytes_.clear();
    if (int r = headers_.WritePictureHeaders(pic); r != kCoreOk) return r;
    if (headers_.outputReady()) bytes_.insert(bytes_.end(), headers_.data(), headers_.data() + headers_.size());

    const bool search = block_.param(kParMotionSearch) == 1;
    {
        // The coarse search sees the padded source at quarter resolution.
        const int rows = picture.macroblockRows(), bands = std::min(Bands(), std::max(rows, 1));
        group_->Run(bands, [&](int b) {
            const int first = rows * b / bands, end = rows * (b + 1) / bands;
            picture.Fill(source, first, end);
            if (!search) return;
            picture.PadLumaRows(first, end);
            picture.PadChromaRows(first, end);
        });
    }
    picture.ResetRecords();
    if (search) {
        // A reference keeps the quarter plane of its source.
        QuarterPlane* quarter = &quarter_[slot];
        PrepareQuarterPlane(picture.lumaStride(), picture.width(), picture.height(), quarter);
        const int bands = Bands(), lines = quarter->rows();
        group_->Run(bands, [&](int b) {
            DownscaleRows(picture.luma(), picture.lumaStride(), lines * b / bands, lines * (b + 1) / bands, quarter);
        });
        const int rangeX = std::clamp(block_.param(kParRangeX), 0, 256);
        const int rangeY = std::clamp(block_.param(kParRangeY), 0, 28);
        // One item per reference picture: each search writes only its reference's vector
        // field. A picture in both lists is searched once (a second search would give
        // the same field).
        int refSlots[2 * kMaxListRefs], refCount = 0;
        for (int list = 0; list < 2; ++list)
            for (int r = 0; r < lists_.count[list]; ++r) {
                const int refSlot = lists_.id[list][r] - 1;
                if (std::find(refSlots, refSlots + refCount, refSlot) == refSlots + refCount)
                    refSlots[refCount++] = refSlot;
            }
        group_->Run(refCount, [&](int i) {
            CoarseSearchReference(quarter_[slot], quarter_[refSlots[i]], rangeX, rangeY, block_.macroblocks.columns,
                                  block_.macroblocks.rows, &coarse_[refSlots[i]]);
        });
    }
    const int qpWord = order.sliceType == kSliceI ? kParQpI : order.sliceType == kSliceP ? kParQpP : kParQpB;
    const int qp = std::clamp(order.qp >= 0 ? order.qp : block_.param(qpWord), 0, 51);
    if (order.rate) order.rate->CopyToSlices(int(slices_.size()));
    // A reference picture is filtered and padded in the same run, row by row as the slices
    // it depends on are done: the samples and records of row y are read while coding by
    // the macroblocks of rows y and y + 1 of their own slice, so its filtering waits for
    // every slice that holds a macroblock of rows 0 .. y + 1.
    const int slices = int(slices_.size()), rows = block_.macroblocks.rows, cols = block_.macroblocks.columns;
    const bool filter = reference && (block_.param(kParFlags) & kFlagDeblocking);
    // With the filter the half-sample plane of a reference is built in the same run too,
    // by bands, each once the rows it reads are padded: it fills the threads that the
    // slices and the filter's wavefront leave idle instead of running after them.
    const bool halfSamples = reference && block_.param(kParRefFrames) > 0;
    const int halfBands = filter && halfSamples ? std::min(int{CRefPictureStore::kMaxHalfSampleBands}, rows) : 0;
    for (const auto& coded : sliceCoded_)
        coded->Reset();
    ResetRows();
    group_->Run(slices + (filter ? rows : 0) + halfBands, [&](int item) {
        if (item < slices) {
            CodeSlice(item, pic, order, qp, &picture);
            sliceCoded_[size_t(item)]->Set();
            return;
        }
        if (item >= slices + rows) {
            HalfSampleBandAfterRows(&picture, item - slices - rows, halfBands);
            return;
        }
        const int y = item - slices, lastMb = std::min(y + 2, rows) * cols - 1;
        for (int s = 0; s < slices && slices_[size_t(s)]->first <= lastMb; ++s)
            sliceCoded_[size_t(s)]->Wait();
        FilterRow(&picture, y, true);
    });
    // Joined in slice order, whatever order the slices finished in.
    for (const auto& w : slices_)
        if (w->result != kCoreOk) return w->result;
    for (const auto& w : slices_) {
        bytes_.insert(bytes_.end(), w->nal.output().Data(), w->nal.output().Data() + w->nal.output().ByteCount());
        w->nal.output().Reset();
    }
    current_ = slot;
    currentFiltered_ = false;
    if (reference) {
        currentFiltered_ = true;
        if (!filter) {
            const int bands = std::min(Bands(), std::max(rows, 1));
            group_->Run(bands, [&](int b) {
                picture.PadLumaRows(rows * b / bands, rows * (b + 1) / bands);
                picture.PadChromaRows(rows * b / bands, rows * (b + 1) / bands);
            });
        }
        if (halfSamples && halfBands == 0) {
            const int bands = Bands();
            group_->Run(bands, [&](int b) { picture.BuildHalfSamplePlane(b, bands); });
        }
        // Sliding window: the oldest reference leaves when the window is full.
        int held = 0, oldest = -1;
        for (int i = 0; i < int(slots_.size()); ++i)
            if (slots_[i].reference) {
                ++held;
                if (oldest < 0 || slots_[i].decodeOrder < slots_[oldest].decodeOrder) oldest = i;
            }
        if (held >= maxReferences_ && oldest >= 0) slots_[oldest].reference = false;
        slots_[slot] = Slot{true, codingNumber_, order.displayNumber};
    } else {
        slots_[slot] = Slot{false, codingNumber_, order.displayNumber};
    }
    out->insert(out->end(), bytes_.begin(), bytes_.end());
    ++codingNumber_;
    return kCoreOk;
}

void CPictureEncoder::CodeSlice(int index, const PictureHeaderInfo& pic, const PictureOrder& order, int qp,
                                CRefPictureStore* picture) {
    SliceWorker& w = *slices_[size_t(index)];
    const int cols = block_.macroblocks.columns;
    w.nal.output().Reset();
    if (order.rate) qp = order.rate->StartSlice(index);
    SliceHeaderInfo header;
    header.firstMb = w.first;
    header.sliceTypeCode = order.sliceType;
    header.list0Count = lists_.count[0];
    header.list1Count = lists_.count[1];
    header.sliceQp = qp;
    // cabac_init_idc adapts from picture to picture only with one slice per picture.
    const bool adaptiveInit = slices_.size() == 1;
    if (w.cabac) header.cabacInitIdc = w.cabac->InitIdc(order.sliceType, adaptiveInit);
    StartSliceNal(&w.nal, block_, pic, header);
    w.writer.BeginSlice(qp);
    if (w.cabac) w.cabac->BeginSlice(order.sliceType, qp, header.cabacInitIdc);
    CMbContext& mb = w.coder->context();
    w.coder->BeginPicture(picture, order.sliceType, order.sliceType == kSliceI ? nullptr : &lists_);
    mb.sliceFirst = w.first;
    for (int addr = w.first; addr < w.end; ++addr) {
        mb.SetPosition(addr % cols, addr / cols, addr == w.end - 1, static_cast<uint16_t>(index));
        mb.SetQp(order.rate ? order.rate->MacroblockQp(index, mb) : qp);
        w.coder->CodeMacroblock();
        mb.StoreMacroblock();
        uint32_t bits;
        if (w.cabac) {
            bits = w.cabac->EncodeMacroblock(mb);
        } else {
            const uint64_t bitsBefore = w.nal.payload().BitCount();
            w.writer.EncodeMacroblock(w.nal.payload(), mb);
            bits = uint32_t(w.nal.payload().BitCount() - bitsBefore);
        }
        if (order.rate) order.rate->MacroblockCoded(index, mb, bits);
    }
    size_t minimumPayload = 0;
    if (w.cabac) {
        uint64_t bins = 0;
        if (!w.cabac->EndSlice(w.nal.payload(), adaptiveInit, &bins)) {
            w.result = kCoreNoSpace;
            return;
        }
        minimumPayload = size_t(MinimumCabacPictureBytes(int64_t(bins), w.end - w.first));
    } else {
        w.nal.payload().PutTrailingBits();
    }
    w.result = w.nal.EmitNalUnit(minimumPayload) < 0 ? kCoreNoSpace : kCoreOk;
}

}  // namespace ombrisk

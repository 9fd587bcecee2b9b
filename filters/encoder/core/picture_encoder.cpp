#include "filters/encoder/core/picture_encoder.h"

#include <algorithm>

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
    // Each slice's buffers hold the most its macroblocks can take (every one as I_PCM),
    // so no slice can overflow them.
    const int count = std::max(block.macroblocks.count, 1), slices = SliceCount(block);
    for (int s = 0; s < slices; ++s) {
        const int first = int(int64_t(count) * s / slices), end = int(int64_t(count) * (s + 1) / slices);
        // With CABAC each macroblock also carries mb_skip_flag and end_of_slice_flag outside
        // its macroblock_layer: at most 6 + 1 bits, one byte more per macroblock.
        const size_t n = size_t(end - first), cabacBytes = block.param(kParCabac) == 1 ? n : 0;
        slices_.push_back(std::make_unique<SliceWorker>(block, SlicePayloadBound(n) + cabacBytes, n));
        slices_.back()->first = first;
        slices_.back()->end = end;
    }
    group_ = std::make_unique<CWorkerGroup>(CWorkerGroup::ThreadsFor(slices, processors));
    // The sequence parameter set's max_num_ref_frames: the P references, and one more
    // for the picture after the B pictures.
    listLimit_ = std::clamp(block.param(kParRefFrames), 1, kMaxListRefs - 1);
    maxReferences_ = listLimit_ + (block.param(kParBFrames) > 0 ? 1 : 0);
    for (int i = 0; i < maxReferences_ + 1; ++i) {
        pool_.push_back(std::make_unique<CRefPictureStore>(block));
        if (!pool_.back()->valid()) status_ = kCoreNotInitialised;
    }
    slots_.resize(pool_.size());
    quarter_.resize(pool_.size());
    coarse_.resize(pool_.size());
    if (block.param(kParMotionSearch) == 1 && status_ == kCoreOk)
        for (size_t i = 0; i < pool_.size(); ++i) {
            const CRefPictureStore& p = *pool_[i];
            Downscale(p.luma(), p.lumaStride(), p.width(), p.height(), &quarter_[i]);
            coarse_[i].Resize(block.macroblocks.columns, block.macroblocks.rows);
        }
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

void CPictureEncoder::DeblockLastPicture() {
    if (currentFiltered_) return;
    currentFiltered_ = true;
    if (!(block_.param(kParFlags) & kFlagDeblocking)) return;
    CRefPictureStore* picture = pool_[current_].get();
    const int rows = block_.macroblocks.rows, bands = Bands();
    group_->Run(bands, [&](int b) { loopFilter_.ComputeStrengths(picture, rows * b / bands, rows * (b + 1) / bands); });
    // Luma and chroma touch disjoint samples: two items, each in raster order. (A
    // wavefront over macroblock rows would split luma further, but at these sizes its
    // waits cost more than the filter.)
    group_->Run(2, [&](int item) {
        if (item == 0) return loopFilter_.FilterLuma(picture);
        loopFilter_.FilterChroma(picture);
    });
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

    picture.Fill(source);
    picture.ResetRecords();
    if (block_.param(kParMotionSearch) == 1) {
        // The coarse search sees the padded source at quarter resolution; a reference
        // keeps the quarter plane of its source.
        picture.PadPlanes();
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
    group_->Run(int(slices_.size()), [&](int s) { CodeSlice(s, pic, order, qp, &picture); });
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
        DeblockLastPicture();
        picture.PadPlanes();
        if (block_.param(kParRefFrames) > 0) {
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

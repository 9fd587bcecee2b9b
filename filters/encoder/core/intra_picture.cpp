#include "filters/encoder/core/intra_picture.h"

#include "filters/encoder/core/core_result.h"

namespace ombrisk {

CIntraPictureEncoder::CIntraPictureEncoder(const EncoderBlock& block)
    : block_(block),
      status_(kCoreOk),
      picture_(block),
      coder_(block, block.param(kParMbCoderLevel), &writer_),
      loopFilter_(block),
      headers_(&block),
      nal_(SlicePayloadBound(size_t(std::max(block.macroblocks.count, 1))),
           CNalWriter::OutputBytesFor(SlicePayloadBound(size_t(std::max(block.macroblocks.count, 1))), 0)) {
    if (!block.initialised() || !picture_.valid()) status_ = kCoreNotInitialised;
    if (block.param(kParCabac) != 0) status_ = kCoreUnsupported;
}

int CIntraPictureEncoder::EncodePicture(const PlanarPicture& source, std::vector<uint8_t>* out) {
    if (status_ != kCoreOk) return status_;
    if (!out || !source.y || !source.cb || !source.cr) return kCoreBadArgument;
    const int32_t gop = block_.param(kParGopLength);
    PictureHeaderInfo pic;
    pic.codingNumber = codingNumber_;
    pic.sliceTypeCode = kSliceI;
    pic.idr = codingNumber_ == 0 || gop <= 1 || sinceIdr_ >= gop;
    if (pic.idr) sinceIdr_ = 0;
    pic.displayNumber = sinceIdr_;
    pic.reference = true;
    numbering_.Next(&pic);
    std::vector<uint8_t>& bytes = bytes_;
    bytes.clear();
    if (int r = headers_.WritePictureHeaders(pic); r != kCoreOk) return r;
    if (headers_.outputReady()) bytes.insert(bytes.end(), headers_.data(), headers_.data() + headers_.size());

    picture_.Fill(source);
    picture_.ResetRecords();
    const int cols = block_.macroblocks.columns, count = block_.macroblocks.count;
    const int slices = std::clamp(block_.param(kParSliceCount), 1, std::min(count, int{kNoSlice} - 1));
    const int qp = std::clamp(block_.param(kParQpI), 0, 51);
    CMbContext& mb = coder_.context();
    int first = 0;
    for (int slice = 0; slice < slices; ++slice) {
        // Slices share the macroblocks as evenly as whole macroblocks allow.
        const int end = int(int64_t(count) * (slice + 1) / slices);
        SliceHeaderInfo header;
        header.firstMb = first;
        header.sliceTypeCode = kSliceI;
        header.sliceQp = qp;
        StartSliceNal(&nal_, block_, pic, header);
        writer_.BeginSlice(qp);
        mb.BeginPicture(&picture_, kSliceI);
        for (int addr = first; addr < end; ++addr) {
            mb.SetPosition(addr % cols, addr / cols, addr == end - 1, static_cast<uint16_t>(slice));
            mb.SetQp(qp);
            coder_.CodeMacroblock();
            mb.StoreMacroblock();
            writer_.EncodeMacroblock(nal_.payload(), mb);
        }
        nal_.payload().PutTrailingBits();
        if (nal_.EmitNalUnit(0) < 0) return kCoreNoSpace;
        bytes.insert(bytes.end(), nal_.output().Data(), nal_.output().Data() + nal_.output().ByteCount());
        nal_.output().Reset();
        first = end;
    }
    if (block_.param(kParFlags) & kFlagDeblocking) {
        loopFilter_.ComputeStrengths(&picture_);
        loopFilter_.FilterLuma(&picture_);
        loopFilter_.FilterChroma(&picture_);
    }
    picture_.PadPlanes();
    out->insert(out->end(), bytes.begin(), bytes.end());
    ++codingNumber_;
    ++sinceIdr_;
    return kCoreOk;
}

}  // namespace ombrisk

#include "tools/header_streams.h"

#include <algorithm>

#include "filters/encoder/core/core_result.h"
#include "filters/encoder/core/param_sets.h"

namespace ombrisk_tools {

using namespace ombrisk;

namespace {

HeaderCase Base(const std::string& name, int w, int h) {
    HeaderCase c{};
    c.name = name;
    c.width = w;
    c.height = h;
    c.aspectX = 4;
    c.aspectY = 3;
    int32_t* p = c.params;
    DefaultParameterWords(c.params);
    p[kParBFrames] = 0;
    p[kParRateMode] = 0;
    p[kParCabac] = 0;
    p[kParSliceCount] = 1;
    c.hrd = false;
    c.pictures = 8;
    c.idrEvery = 0;
    return c;
}

struct Picture {
    int display;   // within its IDR period
    int32_t type;  // 0 I, 1 P, 2 B
    bool idr;
};

// Coding order of `count` pictures with `bFrames` B pictures between anchors and an IDR
// picture every `idrEvery` pictures; the last picture of a period is always an anchor.
std::vector<Picture> CodingOrder(int count, int bFrames, int idrEvery) {
    std::vector<Picture> order;
    const int period = idrEvery > 0 ? idrEvery : count;
    for (int start = 0; start < count; start += period) {
        const int length = std::min(period, count - start);
        order.push_back({0, 0, true});
        int previous = 0;
        while (previous < length - 1) {
            const int anchor = std::min(previous + bFrames + 1, length - 1);
            order.push_back({anchor, 1, false});
            for (int d = previous + 1; d < anchor; ++d)
                order.push_back({d, 2, false});
            previous = anchor;
        }
    }
    return order;
}

void WriteSliceData(const EncoderBlock& b, const Picture& pic, int firstMb, int endMb, common::BitWriter* bits) {
    CHeaderWriter w(bits);
    if (b.param(kParCabac) == 1) {
        // Filler where the CABAC-coded macroblocks would stand: header readers need slice
        // data after the alignment bits, decoders cannot use it.
        for (int i = 0; i < 4; ++i)
            bits->PutByte(0x5A);
        w.TrailingBits();
        return;
    }
    if (pic.type != 0) {
        w.ue(static_cast<uint32_t>(endMb - firstMb), "mb_skip_run");
        w.TrailingBits();
        return;
    }
    const int columns = b.macroblocks.columns;
    for (int mb = firstMb; mb < endMb; ++mb) {
        w.ue(25, "mb_type");  // I_PCM
        while (!bits->IsByteAligned())
            w.u(1, 0, "pcm_alignment_zero_bit");
        const int mx = mb % columns, my = mb / columns;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                bits->PutByte(static_cast<uint8_t>(16 + (mx * 16 + x + my * 16 + y + 8 * pic.display) % 200));
            }
        }
        for (int i = 0; i < 128; ++i)
            bits->PutByte(static_cast<uint8_t>(128 + (i % 8) - 4));
    }
    w.TrailingBits();
}

}  // namespace

std::vector<HeaderCase> HeaderMatrix() {
    std::vector<HeaderCase> m;
    {
        HeaderCase c = Base("baseline_auto", 176, 144);
        c.params[kParProfile] = 66;
        m.push_back(c);
    }
    {
        HeaderCase c = Base("main_cavlc_hrd_vbr_slices", 352, 288);
        c.params[kParLevel] = 30;
        c.params[kParBFrames] = 1;
        c.params[kParAspectIdc] = 2;
        c.params[kParRateMode] = 2;
        c.params[kParMaxBitRate] = 2000000;
        c.params[kParAvgBitRate] = 1500000;
        c.params[kParFlags] = 0;  // deblocking off
        c.params[kParSliceCount] = 3;
        c.hrd = true;
        c.idrEvery = 5;
        c.pictures = 10;
        m.push_back(c);
    }
    {
        HeaderCase c = Base("main_cabac_b2", 720, 576);
        c.aspectX = 16;
        c.aspectY = 9;
        c.params[kParCabac] = 1;
        c.params[kParBFrames] = 2;
        c.params[kParSliceCount] = 2;
        m.push_back(c);
    }
    {
        HeaderCase c = Base("extended_crop_cbr", 200, 120);
        c.params[kParProfile] = 88;
        c.params[kParBFrames] = 1;
        c.params[kParAspectIdc] = kExtendedSar;
        c.params[kParSarWidth] = 40;
        c.params[kParSarHeight] = 33;
        c.params[kParRateMode] = 3;
        c.params[kParAvgBitRate] = 800000;
        c.params[kParFrameRate100] = 2997;
        c.params[kParFixedFrameRate] = 0;
        c.hrd = true;
        m.push_back(c);
    }
    {
        HeaderCase c = Base("main_1080p50_slices", 1920, 1080);
        c.aspectX = 16;
        c.aspectY = 9;
        c.params[kParFrameRate100] = 5000;
        c.params[kParSliceCount] = 4;
        c.params[kParRefFrames] = 2;
        c.pictures = 4;
        m.push_back(c);
    }
    {
        HeaderCase c = Base("baseline_no_vui", 128, 96);
        c.params[kParProfile] = 66;
        c.params[kParVui] = 0;
        c.params[kParLevel] = 11;
        m.push_back(c);
    }
    {
        HeaderCase c = Base("main_interlaced", 720, 480);
        c.params[kParFlags] = kFlagDeblocking | kFlagInterlaced;
        c.params[kParBFrames] = 1;
        c.params[kParFrameRate100] = 2997;
        c.params[kParAspectIdc] = 0;
        m.push_back(c);
    }
    {
        HeaderCase c = Base("main_cabac_hrd_deblock_off", 320, 240);
        c.params[kParCabac] = 1;
        c.params[kParBFrames] = 1;
        c.params[kParFlags] = 0;
        c.params[kParRateMode] = 3;
        c.params[kParAvgBitRate] = 500000;
        c.params[kParFrameRate100] = 1500;
        c.hrd = true;
        c.idrEvery = 4;
        m.push_back(c);
    }
    return m;
}

bool BuildHeaderStream(const HeaderCase& c, WrittenStream* out, std::string* error) {
    EncoderBlock block;
    if (StoreParameterRecord(&block, c.params, 1) != kCoreOk ||
        StorePictureRecord(&block, c.width, c.height, c.aspectX, c.aspectY, 1) != kCoreOk) {
        *error = c.name + ": settings refused by the core";
        return false;
    }
    FillChromaGeometry(&block);

    CParameterSetWriter headers(&block);
    HrdModel hrd{};
    if (c.hrd) {
        const int32_t avg = c.params[kParAvgBitRate];
        const int32_t max = c.params[kParMaxBitRate];
        hrd.bitRate = max != kUnsetWord ? max : avg;
        hrd.cpbSizeBits = hrd.bitRate;  // one second of buffer
        hrd.constantBitRate = c.params[kParRateMode] == 3;
        hrd.initialCpbRemovalDelay = 45000;  // half a second, 90 kHz
        headers.SetHrdModel(&hrd);
    }
    headers.SetTrace(&out->nals);

    const int mbCount = block.macroblocks.count;
    const int slices = block.param(kParSliceCount);
    const size_t payloadBytes = SlicePayloadBound(static_cast<size_t>(mbCount));
    CNalWriter sliceNal(payloadBytes, CNalWriter::OutputBytesFor(payloadBytes, 0));
    CPictureNumbering numbering;

    const int bFrames = block.param(kParBFrames);
    const int reorder = bFrames > 0 ? 1 : 0;
    int64_t codingNumber = 0, periodStart = 0;
    for (const Picture& p : CodingOrder(c.pictures, bFrames, c.idrEvery)) {
        PictureHeaderInfo pic;
        pic.codingNumber = codingNumber;
        pic.displayNumber = p.display;
        pic.sliceTypeCode = p.type;
        pic.idr = p.idr;
        pic.reference = p.type != 2;
        pic.picStruct = (codingNumber % 3 == 2) ? 3 : 0;
        if (p.idr) periodStart = codingNumber;
        const int64_t indexInPeriod = codingNumber - periodStart;
        pic.cpbRemovalDelay = static_cast<uint32_t>(2 * indexInPeriod);
        pic.dpbOutputDelay = static_cast<uint32_t>(2 * (p.display + reorder - indexInPeriod));
        numbering.Next(&pic);

        if (headers.WritePictureHeaders(pic) != kCoreOk) {
            *error = c.name + ": picture headers did not fit";
            return false;
        }
        out->bytes.insert(out->bytes.end(), headers.data(), headers.data() + headers.size());

        for (int s = 0; s < slices; ++s) {
            const int first = static_cast<int>(int64_t{mbCount} * s / slices);
            const int end = static_cast<int>(int64_t{mbCount} * (s + 1) / slices);
            SliceHeaderInfo slice;
            slice.firstMb = first;
            slice.sliceTypeCode = p.type;
            slice.list0Count = 1;
            slice.list1Count = 1;
            slice.cabacInitIdc = s % 3;
            slice.sliceQp = block.param(kParQpI + p.type);
            TracedNal traced;
            StartSliceNal(&sliceNal, block, pic, slice, &traced.fields);
            traced.nalUnitType = sliceNal.nalUnitType();
            WriteSliceData(block, p, first, end, &sliceNal.payload());
            if (sliceNal.EmitNalUnit(0) < 0) {
                *error = c.name + ": slice did not fit";
                return false;
            }
            out->nals.push_back(std::move(traced));
            const common::BitWriter& o = sliceNal.output();
            out->bytes.insert(out->bytes.end(), o.Data(), o.Data() + o.ByteCount());
        }
        ++codingNumber;
    }
    out->level = headers.level();
    return true;
}

}  // namespace ombrisk_tools

// Where H.264 access units begin in a byte stream fed in pieces (PES payloads). Units begin
// where ITU-T H.264 clause 7.4.1.2.3 says: at the first delimiter, SEI or parameter set
// after a picture's slices, or at a slice with first_mb_in_slice 0 that nothing opened.
#pragma once

#include <cstdint>

namespace engines {

class H264UnitFinder {
public:
    // Calls `begins(offset)` for each unit that begins in data[0, size): offset is where its
    // first NAL unit's start code begins, negative when the start code began in an earlier
    // piece. A unit that begins at a slice is known one byte after the slice's header.
    template <typename Begins>
    void Feed(const uint8_t* data, int32_t size, Begins&& begins) {
        for (int32_t i = 0; i < size; ++i) {
            const uint8_t b = data[i];
            switch (expect_) {
                case Expect::kNalHeader: {
                    const int type = b & 0x1F;
                    expect_ = Expect::kStartCode;
                    if (type == 1 || type == 5) {
                        expect_ = Expect::kSliceByte;
                        sliceAt_ = codeAt_;
                    } else if (type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18)) {
                        if (!unitOpen_) begins(codeAt_);
                        unitOpen_ = true;
                    }
                    break;
                }
                case Expect::kSliceByte:
                    // first_mb_in_slice is ue(v): 0 is the single bit 1.
                    if ((b & 0x80) && !unitOpen_) begins(sliceAt_);
                    unitOpen_ = false;
                    expect_ = Expect::kStartCode;
                    break;
                case Expect::kStartCode:
                    break;
            }
            if (b == 1 && zeros_ >= 2) {
                expect_ = Expect::kNalHeader;
                codeAt_ = i - 2;
            }
            zeros_ = b == 0 ? zeros_ + 1 : 0;
        }
        // Offsets count from the next piece's start.
        codeAt_ -= size;
        sliceAt_ -= size;
    }

private:
    enum class Expect { kStartCode, kNalHeader, kSliceByte };
    Expect expect_ = Expect::kStartCode;
    int zeros_ = 0;
    bool unitOpen_ = false;
    int64_t codeAt_ = 0, sliceAt_ = 0;
};

}  // namespace engines

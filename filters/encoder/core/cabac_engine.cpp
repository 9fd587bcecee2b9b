#include "filters/encoder/core/cabac_engine.h"

#include <algorithm>

namespace ombrisk {
namespace {

// Probability of a 1 bin in millionths for a state index s of 0..127 (63 - pStateIdx for
// valMPS 0, 64 + pStateIdx for valMPS 1): 1 - 0.5 x alpha^(63 - s) below 64 and
// 0.5 x alpha^(s - 64) from 64 on, alpha = (0.01875 / 0.5)^(1/63), both rounded to six
// decimals; and its base-2 logarithm in millionths.
// clang-format off
constexpr int32_t kProbability[128] = {
    981250, 980247, 979190, 978077, 976904, 975668, 974367, 972995, 971550, 970028,
    968425, 966736, 964956, 963081, 961106, 959025, 956833, 954524, 952091, 949527,
    946827, 943982, 940986, 937828, 934502, 930998, 927306, 923417, 919320, 915004,
    910457, 905666, 900619, 895302, 889701, 883800, 877583, 871034, 864134, 856866,
    849208, 841141, 832642, 823688, 814256, 804318, 793849, 782820, 771201, 758961,
    746065, 732480, 718167, 703089, 687205, 670470, 652841, 634268, 614701, 594088,
    572371, 549493, 525391, 500000, 500000, 474609, 450507, 427629, 405912, 385299,
    365732, 347159, 329530, 312795, 296911, 281833, 267520, 253935, 241039, 228799,
    217180, 206151, 195682, 185744, 176312, 167358, 158859, 150792, 143134, 135866,
    128966, 122417, 116200, 110299, 104698, 99381, 94334, 89543, 84996, 80680,
    76583, 72694, 69002, 65498, 62172, 59014, 56018, 53173, 50473, 47909,
    45476, 43167, 40975, 38894, 36919, 35044, 33264, 31575, 29972, 28450,
    27005, 25633, 24332, 23096, 21923, 20810, 19753, 18750,
};
constexpr int32_t kLog2Probability[128] = {
    -27307, -28783, -30339, -31980, -33711, -35538, -37463, -39496, -41640, -43902,
    -46288, -48806, -51465, -54271, -57233, -60360, -63661, -67147, -70829, -74719,
    -78827, -83169, -87755, -92605, -97730, -103150, -108883, -114946, -121361, -128150,
    -135337, -142949, -151011, -159554, -168608, -178208, -188393, -199199, -210673, -222858,
    -235810, -249580, -264232, -279830, -296446, -314162, -333063, -353247, -374821, -397902,
    -422627, -449139, -477609, -508221, -541188, -576755, -615196, -656836, -702043, -751251,
    -804978, -863827, -928537, -1000000, -1000000, -1075189, -1150379, -1225568, -1300761, -1375950,
    -1451141, -1526332, -1601518, -1676711, -1751898, -1827088, -1902281, -1977469, -2052662, -2127847,
    -2203037, -2278227, -2353417, -2428612, -2503797, -2578991, -2654181, -2729368, -2804562, -2879744,
    -2954937, -3030124, -3105318, -3180508, -3255694, -3330886, -3406078, -3481276, -3556461, -3631645,
    -3706832, -3782020, -3857218, -3932405, -4007591, -4082799, -4157966, -4233162, -4308344, -4383559,
    -4458751, -4533927, -4609112, -4684309, -4759493, -4834689, -4909895, -4985073, -5060241, -5135428,
    -5210630, -5285854, -5361001, -5436213, -5511411, -5586579, -5661784, -5736966,
};
// clang-format on

}  // namespace

void CabacContexts::Init(bool intraSlice, int cabacInitIdc, int sliceQp) {
    const int8_t(*mn)[2] = common::CabacInitValues(intraSlice, cabacInitIdc);
    for (int i = 0; i < kCabacContexts; ++i) {
        const int pre = std::clamp(((mn[i][0] * sliceQp) >> 4) + mn[i][1], 1, 126);
        state[i] = static_cast<uint8_t>(pre <= 63 ? (63 - pre) << 1 : (pre - 64) << 1 | 1);
        coded[i] = 0;
    }
}

void CCabacEncoder::PutByte() {
    const uint32_t out = low_ >> (queue_ + 10);
    low_ &= (0x400u << queue_) - 1;
    queue_ -= 8;
    if (out & 0x100) {
        // A carry: the byte before the waiting 0xFF run grows by one (it is never 0xFF
        // itself), and the run becomes zeros.
        if (pos_ > 0 && pos_ <= capacity_) ++array_[pos_ - 1];
        for (; outstanding_ > 0; --outstanding_)
            Store(0);
    }
    const auto byte = static_cast<uint8_t>(out);
    if (byte == 0xFF) {
        ++outstanding_;
        return;
    }
    for (; outstanding_ > 0; --outstanding_)
        Store(0xFF);
    Store(byte);
}

void CCabacEncoder::Flush() {
    // Bits 9 and 8 of the window as they stand, bit 7 set, nothing below; then zeros up
    // to the byte boundary.
    low_ = (low_ & ~0x7Fu) | 0x80u;
    low_ <<= 3;
    queue_ += 3;
    const int pad = (8 - ((queue_ + 8) & 7)) & 7;
    low_ <<= pad;
    queue_ += pad;
    while (queue_ >= 0)
        PutByte();
    for (; outstanding_ > 0; --outstanding_)
        Store(0xFF);
    low_ = 0;
    queue_ = -9;
}

void CCabacEncoder::PutBytes(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i)
        Store(bytes[i]);
}

int CCabacInitChooser::Choose(int32_t sliceType, bool adaptive) const {
    if (!adaptive || sliceType < 1 || sliceType > 2) return 0;
    return std::max(chosen_[sliceType], 0);
}

int64_t CCabacInitChooser::Cost(const CabacContexts& ctx, int idc, int qp) {
    const int8_t(*mn)[2] = common::CabacInitValues(idc < 0, std::max(idc, 0));
    int64_t sum = 0;
    for (int i = 0; i < kCabacContexts; ++i) {
        const int64_t weight = std::min<uint32_t>(ctx.coded[i], 32);
        if (weight == 0) continue;
        const int init = std::clamp(((mn[i][0] * qp) >> 4) + mn[i][1], 0, 127);
        const int p = ctx.state[i] >> 1;
        const int end = (ctx.state[i] & 1) ? 64 + p : 63 - p;
        // Cross entropy of the end distribution against the initial one.
        sum -= weight * (int64_t{kProbability[end]} * kLog2Probability[init] +
                         int64_t{kProbability[127 - end]} * kLog2Probability[127 - init]);
    }
    return sum;
}

void CCabacInitChooser::Remember(const CabacContexts& ctx, int32_t sliceType, int qp) {
    if (sliceType < 1 || sliceType > 2) return;
    int best = 0;
    int64_t bestCost = Cost(ctx, 0, qp);
    for (int idc = 1; idc < 3; ++idc) {
        const int64_t cost = Cost(ctx, idc, qp);
        if (cost < bestCost) bestCost = cost, best = idc;
    }
    chosen_[sliceType] = best;
}

}  // namespace ombrisk

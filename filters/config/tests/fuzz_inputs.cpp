#include "filters/config/tests/fuzz_inputs.h"

#include "filters/config/config_stream.h"

namespace kestrune::fuzz {

namespace {

constexpr std::uint16_t kTypes[] = {kStoredI4, kStoredBstr, kStoredBool, kStoredI1, kStoredUi4, kStoredI8, kStoredInt};

std::uint32_t Pick(std::mt19937& rng, std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng); }

}  // namespace

std::vector<std::uint8_t> ValidInput(std::mt19937& rng) {
    const auto flags = static_cast<std::uint8_t>(Pick(rng, 4));
    const StreamLayout layout = (flags & 1) ? StreamLayout::v2 : StreamLayout::v1;
    std::vector<std::uint8_t> out = {flags};
    const std::uint32_t count = Pick(rng, 8);
    ConfigStreamWriteGuid(&out, kConfigStreamHeaderBytes);
    ConfigStreamWriteDword(&out, Pick(rng, 3) == 0 ? 21 : 16);
    ConfigStreamWriteDword(&out, count);
    for (std::uint32_t i = 0; i < count; ++i) {
        StoredEntry e;
        for (auto& b : e.key) b = static_cast<std::uint8_t>(Pick(rng, 4));
        e.variant.type = kTypes[Pick(rng, std::size(kTypes))];
        for (std::size_t b = 0; b < StoredValueWidth(e.variant.type); ++b)
            e.variant.value[b] = static_cast<std::uint8_t>(Pick(rng, 256));
        if (e.variant.type == kStoredBstr) e.variant.text.resize(Pick(rng, 12), 'a');
        e.active = Pick(rng, 2);
        ConfigStreamWriteEntry(&out, layout, e);
    }
    return out;
}

std::vector<std::uint8_t> MutatedInput(std::mt19937& rng) {
    std::vector<std::uint8_t> in = ValidInput(rng);
    const std::uint32_t edits = 1 + Pick(rng, 4);
    for (std::uint32_t i = 0; i < edits && in.size() > 1; ++i) {
        const std::size_t at = 1 + Pick(rng, static_cast<std::uint32_t>(in.size() - 1));
        switch (Pick(rng, 6)) {
        case 0: in[at] ^= static_cast<std::uint8_t>(1u << Pick(rng, 8)); break;
        case 1: in[at] = static_cast<std::uint8_t>(Pick(rng, 256)); break;
        case 2: in.resize(at); break;
        case 3:  // a 32-bit field forged to a large or extreme figure (counts, text lengths)
            for (std::size_t b = 0; b < 4 && at + b < in.size(); ++b)
                in[at + b] = static_cast<std::uint8_t>(Pick(rng, 2) ? 0xFF : Pick(rng, 256));
            break;
        case 4: in.insert(in.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(Pick(rng, 256))); break;
        default: in.erase(in.begin() + static_cast<std::ptrdiff_t>(at)); break;
        }
    }
    if (Pick(rng, 16) == 0) {  // now and then plain random bytes
        in.resize(Pick(rng, 200));
        for (auto& b : in) b = static_cast<std::uint8_t>(Pick(rng, 256));
    }
    return in;
}

}  // namespace kestrune::fuzz

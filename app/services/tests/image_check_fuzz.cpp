// Fuzz target: the skin image header checks and the resource checks on any bytes. Findings are reads past the
// buffer (caught by the sanitizers) and broken invariants (checked here).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/services/image_check.h"
#include "app/services/resource_check.h"
#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    services::ImageHeader h;
    std::string error;
    if (services::CheckImageHeader(bytes.data(), bytes.size(), &h, &error)) {
        // Whatever passes must be decodable into a bounded picture.
        if (h.width == 0 || h.height == 0 || h.width > services::kMaxImageDimension ||
            h.height > services::kMaxImageDimension || h.format == services::ImageFormat::kUnknown)
            std::abort();
        uint64_t dib = 0;
        if (!services::DibImageSize(static_cast<int32_t>(h.width), static_cast<int32_t>(h.height), 32, &dib))
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    uint32_t colour = 0xFFFFFFFF;
    if (services::FindTransparentColour(bytes.data(), bytes.size(), &colour) && (colour >> 24) != 0) {
        std::abort();
    }
    // The resource checks read templates and format strings of an outside module.
    std::vector<uint32_t> ids;
    if (services::ReadDialogControlIds(bytes.data(), bytes.size(), &ids) && ids.size() > size / 18) std::abort();
    std::vector<std::string> conversions;
    if (services::ParsePrintfConversions(std::string(bytes.begin(), bytes.end()), &conversions) &&
        conversions.size() > size / 2)
        std::abort();
    return 0;
}

fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options options;
    // Minimal headers of each format to mutate from.
    options.seeds.push_back({'B', 'M', 70, 0, 0,  0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0,
                             0,   0,   1,  0, 24, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0,
                             0,   0,   0,  0, 0,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0});
    options.seeds.push_back({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
                             0,    0,   2,   0,   0,    0,    2,    8,    6, 0, 0, 0,  0,   0,   0,   0});
    options.seeds.push_back({0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0,  1, 1, 0,    0, 1,    0,   1,
                             0,    0,    0xFF, 0xC0, 0, 11, 8,   0,   16,  0,   16, 1, 1, 0x11, 0, 0xFF, 0xD9});
    options.dictionary = {{'B', 'M'},   {0xFF, 0xD8, 0xFF}, {0xFF, 0xC0},
                          {0xFF, 0xC2}, {0xFF, 0xDA},       {'I', 'H', 'D', 'R'}};
    return options;
}

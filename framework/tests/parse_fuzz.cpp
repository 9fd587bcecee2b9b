// Fuzz target: the file-dialog result splitter and the string-table block reader, on any
// bytes. Findings are out-of-bounds reads (caught by the sanitizers) and broken
// invariants (checked here).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/parse.h"
#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so any read past the end is a sanitizer finding.
    std::vector<char> bytes(data, data + size);
    std::string folder;
    std::vector<std::string> names;
    if (fwparse::SplitFileSelection(bytes.data(), bytes.size(), folder, names)) {
        size_t total = folder.size();
        for (const std::string& n : names)
            total += n.size() + 1;
        if (names.empty() || total > size + 1) std::abort();
    }
    std::vector<uint16_t> block(size / 2);
    if (!block.empty()) std::memcpy(block.data(), data, block.size() * 2);
    for (unsigned index = 0; index < 17; ++index) {
        const uint16_t* text = nullptr;
        size_t length = 0;
        if (fwparse::FindBlockString(block.data(), block.size(), index, &text, &length)) {
            if (length == 0 || text < block.data() || text + length > block.data() + block.size()) std::abort();
        }
    }
    return 0;
}

// Fresh inputs are random bytes with many zeros: zeros separate the names of a file
// selection and end the strings of a block.
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options options;
    options.generate = [](Rng& rng) {
        Bytes input(rng() % 300);
        for (uint8_t& b : input)
            b = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng());
        return input;
    };
    options.dictionary = {Bytes{0, 0}, Bytes{0xFF, 0xFF}, Bytes{'\\'}};
    return options;
}

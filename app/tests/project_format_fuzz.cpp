// Fuzz target: the project file's parser on any bytes, stored and plain. Findings are reads
// past the buffer (caught by the sanitizers) and broken invariants (checked here).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/project_format.h"
#include "tests/support/fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<FileBatchEntry> entries;
    std::string error;
    const project::ParseResult plain = project::ParsePlain(data, size, &entries, &error);
    if (plain != project::ParseResult::kOk && (!entries.empty() || error.empty())) std::abort();
    if (entries.size() > project::kMaxEntries) std::abort();
    for (const FileBatchEntry& e : entries)
        if (!std::memchr(e.path, 0, sizeof e.path)) std::abort();
    if (plain == project::ParseResult::kOk) {
        // What was accepted is saved again and reads back the same.
        const std::vector<uint8_t> stored = project::Scramble(project::BuildPlain(entries));
        std::vector<FileBatchEntry> again;
        if (project::ParseStored(stored.data(), stored.size(), &again, &error) != project::ParseResult::kOk ||
            again.size() != entries.size() ||
            (!again.empty() && std::memcmp(again.data(), entries.data(), again.size() * sizeof(FileBatchEntry)) != 0))
            std::abort();
    }
    const project::ParseResult stored = project::ParseStored(data, size, &entries, &error);
    if (stored != project::ParseResult::kOk && !entries.empty()) std::abort();
    return 0;
}

// Seeds: small projects in their plain and stored forms, so mutations start inside the layout.
fuzzdriver::Options fuzzdriver::TargetOptions() {
    Options options;
    FileBatchEntry e;
    std::memset(&e, 0, sizeof e);
    std::strcpy(e.path, "C:\\clip.mpg");
    for (size_t n : {0, 1, 3}) {
        const std::vector<uint8_t> plain = project::BuildPlain(std::vector<FileBatchEntry>(n, e));
        options.seeds.push_back(plain);
        options.seeds.push_back(project::Scramble(plain));
    }
    options.dictionary = {{0x00, 0x10}, {0x01, 0x10, 4, 0, 0, 0}, {0x02, 0x10, 0x00, 0x02, 0, 0}, {'Q', 'Z', 'T', '1'}};
    return options;
}

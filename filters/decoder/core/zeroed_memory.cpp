#include "filters/decoder/core/zeroed_memory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace avcdec {

namespace {

// Each block starts with a header holding its size; the header's 16 bytes keep the
// caller's bytes as aligned as the block.
constexpr size_t kHeader = 16;

// What is kept: enough for two 1920x1080 contexts of a level-4 stream (six plane sets of
// 3.5 MB and six record arrays of 2.9 MB each), bounded so that a process that decoded a
// level-5.1 stream once does not hold its buffer for ever.
constexpr int kKeptBlocks = 64;
constexpr size_t kKeptBytes = size_t{128} << 20;

struct KeptBlocks {
    std::mutex lock;
    unsigned char* blocks[kKeptBlocks];  // oldest first
    int count = 0;
    size_t bytes = 0;
};

// Never destroyed: contexts may be freed by static destructors of other units.
KeptBlocks& Kept() {
    static KeptBlocks* kept = new KeptBlocks;
    return *kept;
}

size_t BlockBytes(const unsigned char* block) {
    size_t bytes;
    std::memcpy(&bytes, block, sizeof bytes);
    return bytes;
}

}  // namespace

void* AllocateZeroed(size_t bytes) {
    if (bytes > SIZE_MAX - kHeader) return nullptr;
    KeptBlocks& kept = Kept();
    unsigned char* block = nullptr;
    {
        std::lock_guard<std::mutex> hold(kept.lock);
        for (int i = kept.count - 1; i >= 0; --i) {
            if (BlockBytes(kept.blocks[i]) != bytes) continue;
            block = kept.blocks[i];
            std::memmove(&kept.blocks[i], &kept.blocks[i + 1], sizeof block * static_cast<size_t>(kept.count - i - 1));
            --kept.count;
            kept.bytes -= bytes;
            break;
        }
    }
    if (block != nullptr) {
        std::memset(block + kHeader, 0, bytes);
        return block + kHeader;
    }
    block = static_cast<unsigned char*>(std::calloc(bytes + kHeader, 1));
    if (block == nullptr) return nullptr;
    if ((reinterpret_cast<uintptr_t>(block) & 15) != 0) {  // a heap that aligns less
        std::free(block);
        return nullptr;
    }
    std::memcpy(block, &bytes, sizeof bytes);
    return block + kHeader;
}

void FreeZeroed(void* p) {
    if (p == nullptr) return;
    unsigned char* block = static_cast<unsigned char*>(p) - kHeader;
    const size_t bytes = BlockBytes(block);
    unsigned char* dropped[kKeptBlocks + 1];
    int drops = 0;
    {
        KeptBlocks& kept = Kept();
        std::lock_guard<std::mutex> hold(kept.lock);
        if (bytes > kKeptBytes) {
            dropped[drops++] = block;
        } else {
            // The oldest blocks make room for this one.
            int first = 0;
            while (kept.count - first == kKeptBlocks || kept.bytes + bytes > kKeptBytes) {
                kept.bytes -= BlockBytes(kept.blocks[first]);
                dropped[drops++] = kept.blocks[first++];
            }
            kept.count -= first;
            std::memmove(&kept.blocks[0], &kept.blocks[first], sizeof block * static_cast<size_t>(kept.count));
            kept.blocks[kept.count++] = block;
            kept.bytes += bytes;
        }
    }
    for (int i = 0; i < drops; ++i)
        std::free(dropped[i]);
}

}  // namespace avcdec

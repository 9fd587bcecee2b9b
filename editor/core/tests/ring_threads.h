// One writer and one reader thread on a CBitRing, shared by the GoogleTest case and the
// thread-sanitizer program. The writer mixes byte writes with bytes written as two bit
// fields; the reader mixes reads with peek-and-skip. Every byte carries its index.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <thread>

#include "editor/core/bit_ring.h"

namespace editor_test {

struct RingThreadsResult {
    uint32_t received = 0;
    bool ordered = true;
};

inline uint8_t RingByte(uint32_t index) {
    return uint8_t(index * 13 + 1);
}

inline RingThreadsResult RunRingThreads(editor::CBitRing* ring, uint32_t total) {
    std::thread writer([ring, total] {
        std::mt19937 rng(3);
        uint32_t next = 0;
        while (next < total) {
            uint8_t chunk[256];
            const uint32_t n = std::min<uint32_t>(1 + rng() % 256, total - next);
            for (uint32_t i = 0; i < n; ++i)
                chunk[i] = RingByte(next + i);
            bool ok;
            if (rng() % 3 == 0) {
                // One byte as two bit fields: the partial byte is the writer's own state.
                ok = ring->FreeSpace() > 0 && ring->PutBits(chunk[0] >> 3, 5) && ring->PutBits(chunk[0] & 7, 3);
                if (ok) next += 1;
            } else {
                ok = ring->PutBytes(chunk, n);
                if (ok) next += n;
            }
            if (!ok) std::this_thread::yield();
        }
    });
    RingThreadsResult r;
    std::mt19937 rng(5);
    while (r.received < total) {
        uint8_t buf[600];
        size_t got;
        if (rng() & 1) {
            got = ring->Read(buf, 1 + rng() % 600);
        } else {
            got = ring->Peek(buf, 1 + rng() % 600);
            ring->Skip(got);
        }
        for (size_t i = 0; i < got; ++i)
            r.ordered &= buf[i] == RingByte(r.received + uint32_t(i));
        r.received += uint32_t(got);
        if (!got) std::this_thread::yield();
    }
    writer.join();
    return r;
}

}  // namespace editor_test

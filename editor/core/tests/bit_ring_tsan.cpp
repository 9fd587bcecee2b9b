// One writer and one reader thread on a CBitRing, built with the thread sanitizer (no
// GoogleTest: the sanitizers of the rest of the build do not mix with it). Exits non-zero
// when a byte is lost, duplicated or out of order; the sanitizer reports any data race.
#include <cstdint>
#include <cstdio>
#include <random>
#include <thread>

#include "editor/core/bit_ring.h"

int main() {
    editor::CBitRing ring;
    if (!ring.Create(997)) return 2;
    constexpr uint32_t kTotal = 300000;
    std::thread writer([&] {
        std::mt19937 rng(3);
        uint32_t next = 0;
        while (next < kTotal) {
            uint8_t chunk[256];
            const uint32_t n = std::min<uint32_t>(1 + rng() % 256, kTotal - next);
            for (uint32_t i = 0; i < n; ++i) chunk[i] = uint8_t((next + i) * 13 + 1);
            bool ok;
            if (rng() % 3 == 0) {
                // A byte as two bit writes: the partial byte is the writer's own state.
                ok = ring.FreeSpace() > 0 && ring.PutBits(chunk[0] >> 3, 5) &&
                     ring.PutBits(chunk[0] & 7, 3);
                if (ok) next += 1;
            } else {
                ok = ring.PutBytes(chunk, n);
                if (ok) next += n;
            }
            if (!ok) std::this_thread::yield();
        }
    });
    std::mt19937 rng(5);
    uint32_t received = 0;
    while (received < kTotal) {
        uint8_t buf[600];
        size_t got;
        if (rng() & 1) {
            got = ring.Read(buf, 1 + rng() % 600);
        } else {
            got = ring.Peek(buf, 1 + rng() % 600);
            ring.Skip(got);
        }
        for (size_t i = 0; i < got; ++i) {
            if (buf[i] != uint8_t((received + i) * 13 + 1)) {
                std::fprintf(stderr, "byte %u wrong\n", unsigned(received + i));
                writer.join();
                return 1;
            }
        }
        received += uint32_t(got);
        if (!got) std::this_thread::yield();
    }
    writer.join();
    std::printf("%u bytes in order\n", unsigned(received));
    return ring.IsEmpty() ? 0 : 1;
}

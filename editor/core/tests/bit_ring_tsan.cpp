// The ring's one-writer, one-reader exercise built with the thread sanitizer (no
// GoogleTest: the sanitizers of the rest of the build do not mix with it). Exits non-zero
// when a byte is lost, duplicated or out of order; the sanitizer reports any data race.
#include <cstdio>

#include "editor/core/tests/ring_threads.h"

int main() {
    editor::CBitRing ring;
    if (!ring.Create(997)) return 2;
    const editor_test::RingThreadsResult r = editor_test::RunRingThreads(&ring, 300000);
    std::printf("%u bytes, %s\n", unsigned(r.received), r.ordered ? "in order" : "OUT OF ORDER");
    return r.ordered && r.received == 300000 && ring.IsEmpty() ? 0 : 1;
}

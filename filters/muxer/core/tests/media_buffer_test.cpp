#include "filters/muxer/core/media_buffer.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/threads.h"

using muxer::BufferPool;
using muxer::BufferRef;
using muxer::MediaBuffer;
using muxer::PesAccumulator;
using muxer::WorkSignal;
using muxer::WrappingBuffer;

namespace {

// Waits until `pool` has `n` blocked callers (they are counted under its lock just before
// they sleep).
void AwaitWaiters(const BufferPool& pool, int n) {
    while (pool.Waiters() != n)
        std::this_thread::yield();
}

std::vector<uint8_t> Bytes(const MediaBuffer& b) {
    return {b.Data(), b.Data() + b.length};
}

}  // namespace

TEST(BufferPool, RefusesConfigurationsThatCanNeverHandOutABuffer) {
    BufferPool pool;
    EXPECT_FALSE(pool.Start(0, 0));
    EXPECT_FALSE(pool.Start(-5, 0));
    EXPECT_FALSE(pool.Start(100, 99)) << "limit below one buffer would block forever";
    EXPECT_FALSE(pool.Active());
    EXPECT_EQ(pool.GetBuffer(), nullptr) << "a refused pool stays inactive";
    EXPECT_TRUE(pool.Start(100, 100));
    BufferRef one(pool.GetBuffer());
    ASSERT_TRUE(one);
    EXPECT_EQ(one->capacity, 100);
    EXPECT_EQ(one->FreeRoom(), 100);
}

TEST(BufferPool, WithoutLimitNeverBlocksAndRecyclesInReturnOrder) {
    BufferPool pool;
    ASSERT_TRUE(pool.Start(64, 0));
    std::vector<MediaBuffer*> out;
    for (int i = 0; i < 50; ++i) {
        out.push_back(pool.GetBuffer());
        ASSERT_NE(out.back(), nullptr);
    }
    EXPECT_EQ(pool.Outstanding(), 50);
    MediaBuffer* second = out[1];
    out[1]->Release();
    out[0]->Release();
    EXPECT_EQ(pool.FreeCount(), 2);
    // Recycled, not remade: the first returned comes out first, reset.
    MediaBuffer* again = pool.GetBuffer();
    EXPECT_EQ(again, second);
    EXPECT_EQ(again->length, 0);
    EXPECT_FALSE(again->ptsValid);
    again->Release();
    for (size_t i = 2; i < out.size(); ++i)
        out[i]->Release();
    EXPECT_EQ(pool.Outstanding(), 0);
}

TEST(BufferPool, LimitBlocksTheNextCallerUntilARelease) {
    BufferPool pool;
    ASSERT_TRUE(pool.Start(1000, 3000));
    BufferRef a(pool.GetBuffer()), b(pool.GetBuffer()), c(pool.GetBuffer());
    ASSERT_TRUE(a && b && c);
    std::atomic<MediaBuffer*> fourth{nullptr};
    std::atomic<bool> returned{false};
    common::Thread t;
    ASSERT_TRUE(t.Start([&] {
        fourth = pool.GetBuffer();
        returned = true;
    }));
    AwaitWaiters(pool, 1);
    EXPECT_FALSE(returned.load());
    b.reset();
    t.Join();
    ASSERT_NE(fourth.load(), nullptr);
    EXPECT_EQ(pool.Outstanding(), 3);
    fourth.load()->Release();
}

TEST(BufferPool, StopWakesABlockedCallerWithNullEvenWhenResumedAtOnce) {
    BufferPool pool;
    ASSERT_TRUE(pool.Start(1000, 1000));
    BufferRef only(pool.GetBuffer());
    ASSERT_TRUE(only);
    std::atomic<int> results{0};
    std::atomic<MediaBuffer*> got{reinterpret_cast<MediaBuffer*>(1)};
    common::Thread t;
    ASSERT_TRUE(t.Start([&] {
        got = pool.GetBuffer();
        ++results;
    }));
    AwaitWaiters(pool, 1);
    pool.Stop();
    pool.Resume();
    t.Join();
    EXPECT_EQ(results.load(), 1);
    EXPECT_EQ(got.load(), nullptr) << "a stop is never missed by a waiter";
    // Buffers coming back to a stopped pool are destroyed; after StopAndFlush none is kept.
    pool.Stop();
    only.reset();
    EXPECT_EQ(pool.FreeCount(), 0);
    EXPECT_EQ(pool.GetBuffer(), nullptr);
}

TEST(BufferPool, RestartWithAnotherSizeNeverHandsOutAShortBlock) {
    BufferPool pool;
    ASSERT_TRUE(pool.Start(16, 0));
    MediaBuffer* small = pool.GetBuffer();
    small->Release();
    ASSERT_EQ(pool.FreeCount(), 1);
    pool.Stop();
    ASSERT_TRUE(pool.Start(4096, 0));
    BufferRef big(pool.GetBuffer());
    ASSERT_TRUE(big);
    EXPECT_EQ(big->capacity, 4096);
    std::memset(big->Data(), 0x5A, 4096);  // the whole block is there (ASan checks)
}

TEST(MediaBuffer, UnitSliceKeepsItsParentOutOfThePool) {
    BufferPool pool;
    ASSERT_TRUE(pool.Start(100, 0));
    MediaBuffer* parent = pool.GetBuffer();
    std::memcpy(parent->Data(), "abcdefgh", 8);
    parent->length = 8;
    parent->data += 2;  // two bytes consumed
    parent->length = 6;
    MediaBuffer* slice = MediaBuffer::CreateSlice(parent, 4, 1234, std::nullopt);
    ASSERT_NE(slice, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(slice->Data()), 4), "cdef");
    EXPECT_TRUE(slice->ptsValid);
    EXPECT_EQ(slice->pts, 1234);
    EXPECT_FALSE(slice->dtsValid);
    EXPECT_EQ(slice->capacity, 4);
    EXPECT_EQ(MediaBuffer::CreateSlice(parent, 7, std::nullopt, std::nullopt), nullptr) << "beyond the payload";
    parent->Release();
    EXPECT_EQ(pool.FreeCount(), 0);
    EXPECT_EQ(pool.Outstanding(), 1);
    slice->Release();
    EXPECT_EQ(pool.FreeCount(), 1);
    EXPECT_EQ(pool.Outstanding(), 0);
}

TEST(MediaBuffer, CopyAndAppendRules) {
    const uint8_t src_bytes[] = {1, 2, 3, 4, 5};
    WrappingBuffer src(src_bytes, 5, 100, 90);
    src.duration = 40;
    src.durationValid = true;
    BufferRef dst(MediaBuffer::CreateOwned(12));
    ASSERT_TRUE(dst);

    // Into an empty destination: payload and times taken over.
    ASSERT_TRUE(src.AppendTo(*dst));
    EXPECT_EQ(dst->length, 5);
    EXPECT_EQ(dst->pts, 100);
    EXPECT_EQ(dst->dts, 90);
    EXPECT_EQ(dst->duration, 40);

    // Behind a payload: the destination keeps its stamps, the duration adds up.
    const uint8_t more_bytes[] = {6, 7, 8, 9, 10};
    WrappingBuffer more(more_bytes, 5, 999, std::nullopt);
    more.duration = 10;
    more.durationValid = true;
    ASSERT_TRUE(more.AppendTo(*dst));
    EXPECT_EQ(Bytes(*dst), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(dst->pts, 100);
    EXPECT_TRUE(dst->dtsValid);
    EXPECT_EQ(dst->duration, 50);

    // No room: false and nothing changed.
    EXPECT_FALSE(more.AppendTo(*dst));
    EXPECT_EQ(dst->length, 10);
    EXPECT_EQ(dst->duration, 50);
    BufferRef tiny(MediaBuffer::CreateOwned(4));
    EXPECT_FALSE(src.CopyInto(*tiny));
    EXPECT_EQ(tiny->length, 0);
    // A borrowed buffer is never a destination.
    WrappingBuffer borrowed(more_bytes, 5);
    EXPECT_FALSE(src.CopyInto(borrowed));
    EXPECT_EQ(borrowed.FreeRoom(), 0);

    dst->endOfStream = true;
    dst->Reset();
    EXPECT_EQ(dst->length, 0);
    EXPECT_FALSE(dst->ptsValid || dst->dtsValid || dst->durationValid || dst->endOfStream);
    EXPECT_EQ(dst->FreeRoom(), 12);
}

TEST(WorkSignal, CountsSignalsAndNeverLosesAStop) {
    WorkSignal signal;
    signal.Signal();
    signal.Signal();
    EXPECT_TRUE(signal.Wait());
    EXPECT_EQ(signal.Pending(), 1);
    signal.Stop();
    EXPECT_FALSE(signal.Wait()) << "stopped: no count consumed";
    EXPECT_EQ(signal.Pending(), 1);

    // A worker blocked with nothing pending wakes on Stop.
    signal.Restart();
    EXPECT_EQ(signal.Pending(), 0);
    std::atomic<int> answer{-1};
    common::Thread worker;
    ASSERT_TRUE(worker.Start([&] { answer = signal.Wait() ? 1 : 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    signal.Stop();
    worker.Join();
    EXPECT_EQ(answer.load(), 0);
}

TEST(PesAccumulator, GathersUnitsIntoPacketsAndWritesOversizedUnitsAlone) {
    std::vector<std::vector<uint8_t>> written;
    PesAccumulator acc([&](MediaBuffer& b) {
        if (b.length > 0) written.push_back(Bytes(b));
    });
    ASSERT_TRUE(acc.Open(6));
    const uint8_t a[] = {1, 2, 3}, b[] = {4, 5}, c[] = {6, 7, 8}, big[] = {9, 9, 9, 9, 9, 9, 9};
    acc.Add(*std::make_unique<WrappingBuffer>(a, 3));
    acc.Add(*std::make_unique<WrappingBuffer>(b, 2));
    EXPECT_TRUE(written.empty());
    acc.Add(*std::make_unique<WrappingBuffer>(c, 3));  // 3+2+3 > 6: the first five go out
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    acc.Add(*std::make_unique<WrappingBuffer>(big, 7));  // never fits: gathered bytes, then itself
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[1], (std::vector<uint8_t>{6, 7, 8}));
    EXPECT_EQ(written[2].size(), 7u);
    acc.Flush();
    EXPECT_EQ(written.size(), 3u) << "an empty gathering buffer writes nothing";
    acc.Add(*std::make_unique<WrappingBuffer>(a, 3));
    acc.Reset();
    acc.Flush();
    EXPECT_EQ(written.size(), 3u);
}

// Producers cut slices out of pooled buffers under back-pressure and hand them to a worker
// that releases them on its own thread; the thread sanitizer build checks the hand-over.
TEST(BufferPool, StressProducersSlicesAndWorker) {
    constexpr int kProducers = 3, kUnitsEach = 3000, kSize = 256;
    BufferPool pool;
    ASSERT_TRUE(pool.Start(kSize, 4 * kSize));
    WorkSignal signal;
    std::mutex queue_lock;
    std::deque<MediaBuffer*> queue;
    std::atomic<int> consumed{0}, bad{0};

    common::Thread worker;
    ASSERT_TRUE(worker.Start([&] {
        while (signal.Wait()) {
            MediaBuffer* unit;
            {
                std::lock_guard<std::mutex> hold(queue_lock);
                unit = queue.front();
                queue.pop_front();
            }
            // Every unit's bytes carry its own id.
            for (int i = 0; i < unit->length; ++i)
                if (unit->Data()[i] != static_cast<uint8_t>(unit->pts)) ++bad;
            unit->Release();
            ++consumed;
        }
    }));
    std::vector<std::unique_ptr<common::Thread>> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.push_back(std::make_unique<common::Thread>());
        ASSERT_TRUE(producers.back()->Start([&, p] {
            std::mt19937 rng(p);
            MediaBuffer* buffer = nullptr;
            for (int u = 0; u < kUnitsEach; ++u) {
                const int32_t size = 1 + static_cast<int32_t>(rng() % 64);
                if (!buffer || buffer->FreeRoom() < size) {
                    if (buffer) buffer->Release();
                    buffer = pool.GetBuffer();
                    if (!buffer) return;
                }
                const int64_t id = (p * kUnitsEach + u) & 0xFF;
                std::memset(buffer->Data() + buffer->length, static_cast<int>(id), static_cast<size_t>(size));
                const int32_t start = buffer->length;
                buffer->length += size;
                // Cut the new bytes: a slice over the buffer from `start`.
                uint8_t* keep = buffer->data;
                buffer->data += start;
                buffer->length -= start;
                MediaBuffer* slice = MediaBuffer::CreateSlice(buffer, size, id, std::nullopt);
                buffer->data = keep;
                buffer->length += start;
                {
                    std::lock_guard<std::mutex> hold(queue_lock);
                    queue.push_back(slice);
                }
                signal.Signal();
            }
            if (buffer) buffer->Release();
        }));
    }
    producers.clear();  // joins
    while (consumed.load() != kProducers * kUnitsEach)
        std::this_thread::yield();
    signal.Stop();
    worker.Join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(pool.Outstanding(), 0);
    EXPECT_LE(pool.FreeCount(), 4) << "the limit held";
}

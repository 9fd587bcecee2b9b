#include "editor/core/access_unit_queue.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "editor/core/ps_parser.h"

namespace {

using editor::AccessUnitInfo;
using editor::CAccessUnitQueue;

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(first + i);
    return v;
}

// Only a unit with a successor is complete; the last one is handed over on its own.
TEST(AccessUnitQueue, OpenTailIsHandedOverLast) {
    CAccessUnitQueue q;
    ASSERT_TRUE(q.Create(64));
    AccessUnitInfo info;
    const auto a = Bytes(5, 1), b = Bytes(3, 10);
    ASSERT_TRUE(q.Put(100, 90, editor::kUnitPicture, 2, a.data()));
    ASSERT_TRUE(q.Append(3, a.data() + 2));  // the open unit grows
    EXPECT_FALSE(q.Peek(&info, false));
    EXPECT_TRUE(q.PeekLast(&info));
    ASSERT_TRUE(q.Put(200, 190, editor::kUnitAudioFrame, 3, b.data()));
    EXPECT_FALSE(q.PeekLast(&info));  // two units: not the last yet
    ASSERT_TRUE(q.Peek(&info, false));
    EXPECT_EQ(info.time1, 100);
    EXPECT_EQ(info.time2, 90);
    EXPECT_EQ(info.length, 5u);
    std::vector<uint8_t> out;
    ASSERT_TRUE(q.Take(&out, &info));
    EXPECT_EQ(out, a);
    EXPECT_FALSE(q.Take(&out));
    ASSERT_TRUE(q.SetTailTimes(300, 290));
    ASSERT_TRUE(q.TakeLast(&out, &info));
    EXPECT_EQ(out, b);
    EXPECT_EQ(info.time1, 300);
    EXPECT_EQ(info.kind, editor::kUnitAudioFrame);
    EXPECT_EQ(q.Units(), 0u);
}

// A producer blocks while the ring is full and goes on when the consumer takes a unit;
// Signal releases a blocked producer with false.
TEST(AccessUnitQueue, PutWaitsForRoomAndSignalReleasesIt) {
    CAccessUnitQueue q;
    ASSERT_TRUE(q.Create(32));
    const auto big = Bytes(12, 0);
    ASSERT_TRUE(q.Put(1, 1, 2, 12, big.data()));
    ASSERT_TRUE(q.Put(2, 2, 2, 12, big.data()));  // 24 of 31 bytes
    std::atomic<int> result{-1};
    std::thread producer([&] { result = q.Put(3, 3, 2, 12, big.data()) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(result, -1);
    std::vector<uint8_t> out;
    ASSERT_TRUE(q.Take(&out));
    producer.join();
    EXPECT_EQ(result, 1);

    std::thread blocked([&] { result = q.Put(4, 4, 2, 12, big.data()) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q.Signal();
    blocked.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(q.Append(1, big.data()));
}

// A unit larger than the ring cannot wait for the consumer (it is still open): the
// ring grows to hold it, and the bytes come out unchanged.
TEST(AccessUnitQueue, UnitLargerThanTheRingIsKept) {
    CAccessUnitQueue q;
    ASSERT_TRUE(q.Create(16));
    const auto unit = Bytes(100, 7);
    ASSERT_TRUE(q.Put(1, 1, 2, 10, unit.data()));
    for (size_t at = 10; at < unit.size(); at += 30)
        ASSERT_TRUE(q.Append(std::min<size_t>(30, unit.size() - at), unit.data() + at));
    std::vector<uint8_t> out;
    ASSERT_TRUE(q.TakeLast(&out));
    EXPECT_EQ(out, unit);
}

TEST(AccessUnitQueue, RepeatAndSplitTheTail) {
    CAccessUnitQueue q;
    ASSERT_TRUE(q.Create(256));
    // Two MPEG audio frames run together in one unit; the second header is found.
    std::vector<uint8_t> two = {0xFF, 0xFD, 0xB4, 0x0C, 1, 2, 3, 0xFF, 0xFD, 0xB4, 0x0C, 4, 5};
    ASSERT_TRUE(q.Put(1000, editor::kNoTime, 9, two.size(), two.data()));
    EXPECT_FALSE(q.SplitTail(0x12345678, 0xFFFFFFFF, 500));  // no match: unchanged
    ASSERT_TRUE(q.SplitTail(0x0CB4FDFF, 0xF0FCFEFF, 500));
    ASSERT_TRUE(q.RepeatTail(2000, editor::kNoTime));
    std::vector<uint8_t> out;
    AccessUnitInfo info;
    ASSERT_TRUE(q.Take(&out, &info));
    EXPECT_EQ(out, std::vector<uint8_t>(two.begin(), two.begin() + 7));
    ASSERT_TRUE(q.Take(&out, &info));
    EXPECT_EQ(out, std::vector<uint8_t>(two.begin() + 7, two.end()));
    EXPECT_EQ(info.time1, 1500);
    ASSERT_TRUE(q.TakeLast(&out, &info));
    EXPECT_EQ(out, std::vector<uint8_t>(two.begin() + 7, two.end()));
    EXPECT_EQ(info.time1, 2000);
}

}  // namespace

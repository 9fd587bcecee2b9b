#include "common/threads.h"

#include <atomic>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using common::Event;
using common::Semaphore;
using common::Thread;

TEST(Thread, StartsOnceAndJoinsOnDestruction) {
    std::atomic<int> runs{0};
    {
        Thread t;
        EXPECT_FALSE(t.Running());
        t.Join();  // nothing started: no effect
        ASSERT_TRUE(t.Start([&] { ++runs; }));
        EXPECT_FALSE(t.Start([&] { ++runs; })) << "a second body while the first is held";
        EXPECT_FALSE(Thread().Start(nullptr));
    }
    EXPECT_EQ(runs.load(), 1);
}

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
    Event ev(Event::Mode::AutoReset);
    std::atomic<int> woken{0};
    Thread a, b;
    a.Start([&] {
        if (ev.WaitFor(10s)) ++woken;
    });
    b.Start([&] {
        if (ev.WaitFor(10s)) ++woken;
    });
    ev.Set();
    // Exactly one waiter passes; the event is clear again until the second Set.
    while (woken.load() == 0)
        std::this_thread::yield();
    EXPECT_FALSE(ev.IsSet());
    EXPECT_EQ(woken.load(), 1);
    ev.Set();
    a.Join();
    b.Join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_FALSE(ev.IsSet());
}

TEST(Event, ManualResetReleasesAllAndStaysSet) {
    Event ev(Event::Mode::ManualReset);
    std::atomic<int> woken{0};
    std::vector<std::unique_ptr<Thread>> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.push_back(std::make_unique<Thread>());
        waiters.back()->Start([&] {
            if (ev.WaitFor(10s)) ++woken;
        });
    }
    ev.Set();
    waiters.clear();
    EXPECT_EQ(woken.load(), 4);
    EXPECT_TRUE(ev.IsSet());
    EXPECT_TRUE(ev.WaitFor(0ms));
    ev.Reset();
    EXPECT_FALSE(ev.WaitFor(1ms));
}

TEST(Event, TimedWaitAndInitialState) {
    Event clear(Event::Mode::AutoReset);
    EXPECT_FALSE(clear.WaitFor(5ms));
    Event preset(Event::Mode::AutoReset, true);
    EXPECT_TRUE(preset.WaitFor(0ms));
    EXPECT_FALSE(preset.WaitFor(0ms)) << "auto-reset: taken by the first wait";
}

TEST(Semaphore, CeilingAndCounts) {
    Semaphore s(1, 2);
    EXPECT_EQ(s.Count(), 1);
    EXPECT_TRUE(s.Release());
    EXPECT_FALSE(s.Release()) << "past the ceiling";
    EXPECT_FALSE(s.Release(0));
    EXPECT_EQ(s.Count(), 2);
    EXPECT_TRUE(s.TryAcquireFor(0ms));
    EXPECT_TRUE(s.TryAcquireFor(0ms));
    EXPECT_FALSE(s.TryAcquireFor(2ms));
    EXPECT_FALSE(s.Release(3)) << "a multi-unit release that would pass the ceiling changes nothing";
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(Semaphore(5, 3).Count(), 3) << "initial count clamped to the ceiling";
}

TEST(Semaphore, ProducerConsumerLosesNoUnit) {
    constexpr int kUnits = 20000;
    Semaphore s(0, kUnits);
    std::atomic<int> taken{0};
    Thread consumers[3];
    for (auto& c : consumers)
        c.Start([&] {
            while (s.TryAcquireFor(200ms))
                ++taken;
        });
    for (int i = 0; i < kUnits; ++i)
        ASSERT_TRUE(s.Release());
    for (auto& c : consumers)
        c.Join();
    EXPECT_EQ(taken.load(), kUnits);
    EXPECT_EQ(s.Count(), 0);
}

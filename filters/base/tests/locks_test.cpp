// The worker thread's request/reply channel and its bounds.
#include "filters/base/locks.h"

#include <atomic>

#include <gtest/gtest.h>

namespace {

// A worker that counts work while running and parks on Pause; it answers each
// command with the command's number so the test sees which one it got.
class Worker final : public CAmThread {
public:
    enum : DWORD { kRun = 1, kPause = 2, kExit = 3, kHang = 4 };
    ~Worker() override { Close(INFINITE); }
    std::atomic<int> work{0};

private:
    DWORD ThreadProc() override {
        DWORD command = GetRequest();
        for (;;) {
            if (command == kHang) {
                Sleep(1000);
                command = GetRequest();
                continue;
            }
            Reply(static_cast<HRESULT>(command));
            if (command == kExit) return 0;
            if (command == kRun) {
                while (!CheckRequest(&command)) {
                    ++work;
                    Sleep(1);
                }
                continue;
            }
            command = GetRequest();
        }
    }
};

TEST(WorkerThread, CommandsAreAnsweredInOrder) {
    Worker worker;
    EXPECT_EQ(worker.CallWorker(Worker::kRun), Worker::kNoReply) << "no thread yet";
    ASSERT_TRUE(worker.Create());
    EXPECT_FALSE(worker.Create()) << "one thread at a time";
    EXPECT_EQ(worker.CallWorker(Worker::kRun), static_cast<HRESULT>(Worker::kRun));
    while (worker.work.load() < 5)
        Sleep(1);
    EXPECT_EQ(worker.CallWorker(Worker::kPause), static_cast<HRESULT>(Worker::kPause));
    const int parked = worker.work.load();
    Sleep(20);
    EXPECT_EQ(worker.work.load(), parked) << "a paused worker does no work";
    EXPECT_EQ(worker.CallWorker(Worker::kExit), static_cast<HRESULT>(Worker::kExit));
    EXPECT_TRUE(worker.Close(5000));
    EXPECT_FALSE(worker.ThreadExists());
    EXPECT_EQ(worker.CallWorker(Worker::kRun), Worker::kNoReply) << "a closed worker answers nothing";
}

TEST(WorkerThread, ACallToAHungWorkerIsBounded) {
    Worker worker;
    ASSERT_TRUE(worker.Create());
    const DWORD begin = GetTickCount();
    EXPECT_EQ(worker.CallWorker(Worker::kHang, 200), Worker::kNoReply);
    EXPECT_GE(GetTickCount() - begin, 180u);
    EXPECT_FALSE(worker.Close(0)) << "still running";
    // Once it recovers it takes commands again.
    EXPECT_EQ(worker.CallWorker(Worker::kExit), static_cast<HRESULT>(Worker::kExit));
    EXPECT_TRUE(worker.Close(5000));
}

TEST(Events, ManualAndAutoReset) {
    CAmEvent automatic(false), manual(true);
    ASSERT_TRUE(automatic.Valid() && manual.Valid());
    EXPECT_FALSE(automatic.Check());
    automatic.Set();
    EXPECT_TRUE(automatic.Check());
    EXPECT_FALSE(automatic.Check()) << "an auto-reset event releases one wait";
    manual.Set();
    EXPECT_TRUE(manual.Check());
    EXPECT_TRUE(manual.Wait(0)) << "a manual-reset event stays set";
    manual.Reset();
    EXPECT_FALSE(manual.Wait(10));
}

}  // namespace

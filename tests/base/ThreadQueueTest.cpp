#include "base/ThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tandem {
namespace {

TEST(ThreadQueue, SyncWaitsForEarlierWorkAndRunsInlineFromItself) {
    ThreadQueue queue("test");
    std::vector<int> order;
    queue.async([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        order.push_back(1);
    });
    queue.sync([&] {
        order.push_back(2);
        EXPECT_TRUE(queue.isCurrent());
        queue.sync([&] { order.push_back(3); }); // from the queue itself: no deadlock
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(queue.syncValue([] { return 42; }), 42);
}

// A timer paced by its own schedule: a firing that runs late (here every other handler outlasts the
// period) is followed by an early one, so the rate holds at 100 a second instead of slowing to the pace
// of the late firings (32 in 0.4 s when each next firing is counted from the late one).
TEST(ThreadQueue, TimerCatchesUpAfterALateFiring) {
    ThreadQueue queue("test");
    std::atomic<int> count{0};
    const auto start = std::chrono::steady_clock::now();
    auto timer = queue.timer(0.01, 0.01, [&] {
        if (count++ % 2 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(15));
    });
    std::this_thread::sleep_until(start + std::chrono::milliseconds(405));
    timer->cancel();
    queue.sync([] {});
    EXPECT_GE(count, 36);
    EXPECT_LE(count, 41);
}

TEST(ThreadQueue, StopWithPendingWorkIsSafeAndSyncStillRunsItsTask) {
    auto queue = std::make_unique<ThreadQueue>("test");
    std::atomic<int> ran{0};
    queue->async([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    for (int i = 0; i < 100; ++i)
        queue->after(10, [&] { ++ran; });
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        queue->stop();
    });
    bool synced = false;
    queue->sync([&] { synced = true; }); // queued behind the sleep, possibly dropped by stop
    stopper.join();
    EXPECT_TRUE(synced);
    queue->stop();                // twice is harmless
    queue->async([&] { ++ran; }); // after stop: dropped
    queue.reset();
    EXPECT_EQ(ran, 0);
}

TEST(ThreadQueue, TaskMayStopAndDestroyItsOwnQueue) {
    auto queue = std::make_shared<ThreadQueue>("test");
    std::atomic<bool> done{false};
    queue->async([&queue, &done] {
        queue->stop();
        queue.reset();
        done = true;
    });
    while (!done)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(queue, nullptr);
}

} // namespace
} // namespace tandem

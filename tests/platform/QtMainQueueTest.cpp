#include "platform/qt/QtMainQueue.h"

#include "platform/QtEventLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tandem {
namespace {

using Steady = std::chrono::steady_clock;
using Steps = std::vector<std::string>;
using testing::spinFor;
using testing::spinUntil;

// What ran, recorded from any thread.
struct Trace {
    std::mutex lock;
    Steps steps;
    Queue::Task add(std::string step) {
        return [this, step] {
            std::lock_guard guard(lock);
            steps.push_back(step);
        };
    }
    Steps read() {
        std::lock_guard guard(lock);
        return steps;
    }
    bool has(size_t count) { return read().size() >= count; }
};

bool onGuiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

TEST(QtMainQueue, RunsOnTheGuiThreadInTimeOrderThenSubmissionOrder) {
    QtMainQueue queue("main");
    EXPECT_EQ(queue.label(), "main");
    Trace trace;
    queue.after(0.030, trace.add("at 30 ms"));
    queue.after(0.010, trace.add("first at 10 ms"));
    queue.after(0.010, trace.add("second at 10 ms"));
    for (int i = 0; i < 3; ++i)
        queue.async(trace.add(std::to_string(i)));
    std::thread([&] {
        EXPECT_FALSE(queue.isCurrent());
        queue.async(
            [&] { trace.add(onGuiThread() && queue.isCurrent() ? "worker's, on the GUI thread" : "?")(); });
    }).join();
    EXPECT_TRUE(trace.read().empty()) << "nothing runs outside the event loop";
    ASSERT_TRUE(spinUntil([&] { return trace.has(7); }));
    EXPECT_EQ(trace.read(), (Steps{"0", "1", "2", "worker's, on the GUI thread", "first at 10 ms",
                                   "second at 10 ms", "at 30 ms"}));

    // A task that came due while the GUI thread was busy goes before work submitted after its time.
    Trace late;
    queue.async(late.add("before its time"));
    queue.after(0.005, late.add("due at 5 ms"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.async(late.add("after its time"));
    ASSERT_TRUE(spinUntil([&] { return late.has(3); }));
    EXPECT_EQ(late.read(), (Steps{"before its time", "due at 5 ms", "after its time"}));
}

TEST(QtMainQueue, SyncFromAnotherThreadWaitsForTheGuiThreadOrRunsOnTheCallerOnceTheQueueStops) {
    QtMainQueue queue("main");
    Trace trace;
    auto worker = std::async(std::launch::async, [&] {
        queue.async(trace.add("async first"));
        queue.sync([&] { trace.add(onGuiThread() && queue.isCurrent() ? "sync on the GUI thread" : "?")(); });
        trace.add("sync returned")();
        return queue.syncValue([] { return 42; });
    });
    ASSERT_TRUE(
        spinUntil([&] { return worker.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(worker.get(), 42);
    EXPECT_EQ(trace.read(), (Steps{"async first", "sync on the GUI thread", "sync returned"}));
    bool inline_ = false;
    queue.sync([&] { inline_ = true; }); // on the GUI thread: at once, no loop needed
    EXPECT_TRUE(inline_);

    // No loop runs now, so the next sync waits in the queue until stop drops it: the caller runs it.
    std::promise<std::thread::id> ranOn;
    std::thread waiting([&] { queue.sync([&] { ranOn.set_value(std::this_thread::get_id()); }); });
    auto deadline = Steady::now() + std::chrono::seconds(5);
    while (queue.pendingCount() == 0 && Steady::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto waitingId = waiting.get_id();
    queue.stop();
    waiting.join();
    EXPECT_EQ(ranOn.get_future().get(), waitingId);
    bool later = false;
    queue.async([&] { later = true; });
    spinFor(0.02);
    EXPECT_FALSE(later) << "a stopped queue runs nothing";
}

TEST(QtMainQueue, TakesTurnsWithQtsOwnEventsButNeverRunsInsideATask) {
    QtMainQueue queue("main");
    Trace trace;
    queue.async([&] {
        trace.add("modal begins")();
        queue.async(trace.add("posted during the modal"));
        QEventLoop modal; // as a modal dialog spins one
        QTimer::singleShot(20, &modal, &QEventLoop::quit);
        modal.exec();
        trace.add("modal ends")();
    });
    ASSERT_TRUE(spinUntil([&] { return trace.has(3); }));
    EXPECT_EQ(trace.read(), (Steps{"modal begins", "modal ends", "posted during the modal"}));

    // A task chain that keeps the queue busy still lets an event posted meanwhile through.
    int chained = 0;
    int chainedWhenEventCame = -1;
    std::function<void()> step = [&] {
        if (++chained == 1) QTimer::singleShot(0, [&] { chainedWhenEventCame = chained; });
        if (chained < 2000) queue.async(step);
    };
    queue.async(step);
    ASSERT_TRUE(spinUntil([&] { return chained == 2000; }));
    EXPECT_GE(chainedWhenEventCame, 1);
    EXPECT_LT(chainedWhenEventCame, 2000) << "Qt's event waited for the whole chain";
}

TEST(QtMainQueue, WorkLeftBehindByAQueueThatIsGoneIsDroppedSafely) {
    int ran = 0;
    std::unique_ptr<Timer> survivor;
    {
        QtMainQueue queue("main");
        queue.async([&] { ++ran; });
        queue.after(0.001, [&] { ++ran; });
        survivor = queue.timer(0.001, 0.001, [&] { ++ran; });
    }
    spinFor(0.02);
    survivor->cancel(); // the timer outlived its queue

    // The last owner may let go on another thread while the GUI thread serves the loop.
    auto shared = std::make_shared<QtMainQueue>("main");
    shared->async([&] { ++ran; });
    shared->after(0.005, [&] { ++ran; });
    auto timer = shared->timer(0.001, 0.001, [&] { ++ran; });
    std::thread([held = std::move(shared)]() mutable { held.reset(); }).join();
    spinFor(0.02);
    EXPECT_EQ(ran, 0);
}

TEST(QtMainQueue, AfterIsNeverEarlyByTheSteadyClock) {
    QtMainQueue queue("main");
    // Fractions of a millisecond too, where a timer rounded to whole milliseconds would be early.
    const std::vector<double> delays = {0.0004, 0.0011, 0.0017, 0.0029, 0.0043, 0.0101, 0.0257};
    for (int round = 0; round < 5; ++round) {
        std::vector<double> waited(delays.size(), -1);
        for (size_t i = 0; i < delays.size(); ++i) {
            queue.after(delays[i], [&waited, i, asked = Steady::now()] {
                waited[i] = std::chrono::duration<double>(Steady::now() - asked).count();
            });
        }
        ASSERT_TRUE(spinUntil([&] { return std::count(waited.begin(), waited.end(), -1) == 0; }));
        for (size_t i = 0; i < delays.size(); ++i)
            EXPECT_GE(waited[i], delays[i]);
    }
}

TEST(QtMainQueue, TimerRepeatsUntilCancelledEvenFromInsideItsOwnHandler) {
    QtMainQueue queue("main");
    int count = 0;
    std::unique_ptr<Timer> timer;
    timer = queue.timer(0, 0.002, [&] {
        if (++count == 3) timer->cancel();
    });
    ASSERT_TRUE(spinUntil([&] { return count >= 3; }));
    spinFor(0.03);
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(timer->isCancelled());
    EXPECT_EQ(queue.pendingCount(), 0u) << "the cancelled timer's next firing left the queue";

    // Destroying a timer stops it and takes its waiting firing along, however far off.
    int fired = 0;
    auto once = queue.timer(0, 1e9, [&] { ++fired; });
    ASSERT_TRUE(spinUntil([&] { return fired == 1; }));
    EXPECT_EQ(queue.pendingCount(), 1u);
    once.reset();
    EXPECT_EQ(queue.pendingCount(), 0u);
}

} // namespace
} // namespace tandem

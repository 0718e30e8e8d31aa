#include "base/SimTime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandem {
namespace {

TEST(SimTime, RunsDueWorkInTimeThenSubmissionOrderAcrossQueues) {
    SimTime time;
    auto a = time.makeQueue("a");
    auto b = time.makeQueue("b");
    std::vector<std::string> log;
    a->after(0.5, [&] { log.push_back("a0.5"); });
    b->after(0.2, [&] { log.push_back("b0.2"); });
    a->async([&] { log.push_back("a-now"); });
    b->after(0.5, [&] { log.push_back("b0.5"); });
    b->async([&] { log.push_back("b-now"); });

    time.advance(0.3);
    EXPECT_EQ(log, (std::vector<std::string>{"a-now", "b-now", "b0.2"}));
    EXPECT_DOUBLE_EQ(time.now(), 0.3);

    time.advance(1);
    EXPECT_EQ(log.size(), 5u);
    EXPECT_EQ(log[3], "a0.5");
    EXPECT_EQ(log[4], "b0.5");
}

TEST(SimTime, TimersRepeatUntilCancelledOrDropped) {
    SimTime time;
    auto queue = time.makeQueue("q");
    std::vector<double> fired;
    auto timer = queue->timer(1, 0.5, [&] { fired.push_back(time.now()); });
    time.advance(2.1);
    EXPECT_EQ(fired, (std::vector<double>{1.0, 1.5, 2.0}));

    timer->cancel();
    time.advance(5);
    EXPECT_EQ(fired.size(), 3u);

    int dropped = 0;
    auto other = queue->timer(0, 1, [&] { ++dropped; });
    time.advance(0);
    other.reset(); // dropping the handle cancels the timer
    time.advance(10);
    EXPECT_EQ(dropped, 1);

    // Cancelled from inside its own handler: it never fires again.
    int count = 0;
    std::unique_ptr<Timer> self;
    self = queue->timer(0.1, 0.1, [&] {
        if (++count == 2) self->cancel();
    });
    time.advance(1);
    EXPECT_EQ(count, 2);
}

TEST(SimTime, SyncRunsInlineOnTheOtherQueueAndNests) {
    SimTime time;
    auto input = time.makeQueue("input");
    auto output = time.makeQueue("output");
    std::vector<std::string> log;
    output->after(0.4, [&] {
        EXPECT_TRUE(output->isCurrent());
        int snapshot = input->syncValue([&] {
            EXPECT_TRUE(input->isCurrent());
            EXPECT_FALSE(output->isCurrent());
            input->after(0.1, [&] { log.push_back("input later"); });
            return 7;
        });
        EXPECT_TRUE(output->isCurrent());
        log.push_back("snapshot " + std::to_string(snapshot));
    });
    time.advance(0.45);
    EXPECT_EQ(log, (std::vector<std::string>{"snapshot 7"}));
    time.advance(0.1);
    EXPECT_EQ(log.back(), "input later");
}

TEST(SimTime, SleepBlocksOnlyTheSleepingQueue) {
    SimTime time;
    auto queue = time.makeQueue("q");
    auto other = time.makeQueue("other");
    std::vector<std::pair<std::string, double>> seen;
    queue->async([&] {
        time.sleep(0.02);
        time.sleep(0.02);
        seen.emplace_back("slept", time.now());
        queue->after(0.01, [&] { seen.emplace_back("scheduled after the sleep", time.now()); });
    });
    queue->after(0.01, [&] { seen.emplace_back("same queue", time.now()); });
    other->after(0.01, [&] { seen.emplace_back("other queue", time.now()); });
    time.advance(1);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].first, "slept");
    EXPECT_NEAR(seen[0].second, 0.04, 1e-12);
    EXPECT_EQ(seen[1], (std::pair<std::string, double>{"other queue", 0.01})); // not held up by the sleep
    EXPECT_EQ(seen[2].first, "same queue"); // was due during the sleep: runs when the queue wakes
    EXPECT_NEAR(seen[2].second, 0.04, 1e-12);
    EXPECT_NEAR(seen[3].second, 0.05, 1e-12);
    EXPECT_DOUBLE_EQ(time.now(), 1.0);
}

} // namespace
} // namespace tandem

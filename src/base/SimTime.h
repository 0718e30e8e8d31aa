#pragma once

#include "base/Clock.h"
#include "base/Queue.h"

#include <memory>
#include <string>

namespace tandem {

// One virtual timeline shared by many queues. Nothing runs until `advance` is called; then every task
// due by the new time runs on the calling thread, in time order and then submission order, with the
// clock reading each task's due time. `sync` runs inline. Nothing ever sleeps on the real clock.
class SimTime final : public Clock {
public:
    SimTime();
    ~SimTime() override;
    SimTime(const SimTime&) = delete;
    SimTime& operator=(const SimTime&) = delete;

    std::shared_ptr<Queue> makeQueue(std::string label);

    // Runs everything due within the next `seconds`, then leaves the clock at now + seconds.
    void advance(double seconds);
    // Runs everything due now (work posted with async included).
    void runUntilIdle() { advance(0); }
    // Number of tasks and timer firings waiting.
    size_t pendingCount() const;

    double now() const;

    double uptime() const override { return now(); }
    std::chrono::system_clock::time_point date() const override;
    uint64_t hostTime() const override;
    double hostTimeScale() const override { return 1e-9; }
    // Inside a task: like a blocking sleep on a serial queue. The task's clock moves on and its queue
    // takes no further task until it wakes; other queues keep their own times. Outside a task it
    // simply moves the timeline on.
    void sleep(double seconds) override;

    struct Timeline;

private:
    std::shared_ptr<Timeline> timeline;
};

} // namespace tandem

#include "base/SimTime.h"

#include <cmath>
#include <map>
#include <mutex>
#include <queue>
#include <utility>
#include <vector>

namespace tandem {

struct SimTime::Timeline {
    struct Entry {
        double due;
        uint64_t sequence;
        Queue::Task task;
        const Queue* queue;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const {
            return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
        }
    };

    // Guards the heap only; tasks run without it so that they can schedule more work.
    mutable std::recursive_mutex lock;
    std::priority_queue<Entry, std::vector<Entry>, Later> heap;
    uint64_t nextSequence = 0;
    double now = 0;
    const Queue* running = nullptr;
    // Time the running task has spent in `sleep`: its clock reads now + slept, and its queue stays
    // busy that long after the task, while every other queue goes on in time.
    double slept = 0;
    std::map<const Queue*, double> busyUntil;

    double current() const { return now + slept; }

    void schedule(const Queue* queue, double delay, Queue::Task task) {
        std::lock_guard guard(lock);
        double wait = std::isfinite(delay) && delay > 0 ? delay : 0;
        heap.push(Entry{current() + wait, nextSequence++, std::move(task), queue});
    }
};

namespace {

class SimTimer final : public Timer {
public:
    std::shared_ptr<bool> cancelled = std::make_shared<bool>(false);
    ~SimTimer() override { cancel(); }
    void cancel() override { *cancelled = true; }
    bool isCancelled() const override { return *cancelled; }
};

class SimQueue final : public Queue {
public:
    SimQueue(std::weak_ptr<SimTime::Timeline> timeline, std::string label)
        : timeline(std::move(timeline))
        , name(std::move(label)) {}

    const std::string& label() const override { return name; }

    void async(Task task) override { after(0, std::move(task)); }

    void after(double seconds, Task task) override {
        if (auto line = timeline.lock()) line->schedule(this, seconds, std::move(task));
    }

    void sync(const Task& task) override {
        auto line = timeline.lock();
        if (!line) {
            task();
            return;
        }
        const Queue* previous = line->running;
        line->running = this;
        task();
        line->running = previous;
    }

    std::unique_ptr<Timer> timer(double firstDelay, double period, Task handler) override {
        auto timer = std::make_unique<SimTimer>();
        auto shared = std::make_shared<Task>(std::move(handler));
        scheduleFiring(timeline, this, firstDelay, period, timer->cancelled, shared);
        return timer;
    }

    bool isCurrent() const override {
        auto line = timeline.lock();
        return line && line->running == this;
    }

private:
    // Pending firings hold the timeline weakly and the queue only as an identity, so a queue or
    // timeline that goes away leaves nothing dangling behind.
    static void scheduleFiring(const std::weak_ptr<SimTime::Timeline>& weakLine, const Queue* queue,
                               double delay, double period, std::shared_ptr<bool> cancelled,
                               std::shared_ptr<Task> handler) {
        auto line = weakLine.lock();
        if (!line) return;
        line->schedule(queue, delay, [weakLine, queue, period, cancelled, handler] {
            if (*cancelled) return;
            // A period of zero or less would spin the timeline forever; such a timer fires once.
            if (period > 0) scheduleFiring(weakLine, queue, period, period, cancelled, handler);
            (*handler)();
        });
    }

    std::weak_ptr<SimTime::Timeline> timeline;
    std::string name;
};

} // namespace

SimTime::SimTime()
    : timeline(std::make_shared<Timeline>()) {}
SimTime::~SimTime() = default;

std::shared_ptr<Queue> SimTime::makeQueue(std::string label) {
    return std::make_shared<SimQueue>(timeline, std::move(label));
}

void SimTime::advance(double seconds) {
    double target = timeline->now + (std::isfinite(seconds) && seconds > 0 ? seconds : 0);
    for (;;) {
        Timeline::Entry entry;
        {
            std::lock_guard guard(timeline->lock);
            if (timeline->heap.empty() || timeline->heap.top().due > target) break;
            entry = timeline->heap.top();
            timeline->heap.pop();
            // A queue still sleeping through an earlier task takes its next task when it wakes.
            if (auto busy = timeline->busyUntil.find(entry.queue);
                busy != timeline->busyUntil.end() && busy->second > entry.due) {
                entry.due = busy->second;
                timeline->heap.push(std::move(entry));
                continue;
            }
            if (entry.due > timeline->now) timeline->now = entry.due;
        }
        const Queue* previous = timeline->running;
        double sleptBefore = std::exchange(timeline->slept, 0);
        timeline->running = entry.queue;
        entry.task();
        timeline->running = previous;
        {
            std::lock_guard guard(timeline->lock);
            if (timeline->slept > 0) timeline->busyUntil[entry.queue] = timeline->now + timeline->slept;
            timeline->slept = sleptBefore;
        }
    }
    std::lock_guard guard(timeline->lock);
    if (target > timeline->now) timeline->now = target;
}

size_t SimTime::pendingCount() const {
    std::lock_guard guard(timeline->lock);
    return timeline->heap.size();
}

double SimTime::now() const {
    std::lock_guard guard(timeline->lock);
    return timeline->current();
}

std::chrono::system_clock::time_point SimTime::date() const {
    // The virtual timeline starts at 2026-01-01T00:00:00Z.
    using namespace std::chrono;
    auto origin = sys_days{year{2026} / January / 1};
    return time_point_cast<system_clock::duration>(origin + duration<double>(now()));
}

uint64_t SimTime::hostTime() const {
    return static_cast<uint64_t>(std::llround(now() * 1e9));
}

void SimTime::sleep(double seconds) {
    if (!(std::isfinite(seconds) && seconds > 0)) return;
    std::lock_guard guard(timeline->lock);
    if (timeline->running) {
        timeline->slept += seconds;
    } else {
        timeline->now += seconds;
    }
}

} // namespace tandem

#include "base/ThreadQueue.h"

#include "base/WaitForTask.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <future>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace tandem {

using SteadyTime = std::chrono::steady_clock::time_point;

struct ThreadQueue::State {
    struct Entry {
        SteadyTime due;
        uint64_t sequence;
        Task task;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const {
            return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
        }
    };

    std::string label;
    std::mutex lock;
    std::condition_variable wake;
    std::priority_queue<Entry, std::vector<Entry>, Later> heap;
    uint64_t nextSequence = 0;
    bool stopping = false;
    std::thread worker;
    std::thread::id workerId;

    static SteadyTime dueIn(double delay) {
        auto wait = std::chrono::duration<double>(std::isfinite(delay) && delay > 0 ? delay : 0);
        return std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::nanoseconds>(wait);
    }

    // False once the queue has stopped: the task is dropped.
    bool schedule(double delay, Task task) { return scheduleAt(dueIn(delay), std::move(task)); }
    bool scheduleAt(SteadyTime due, Task task) {
        {
            std::lock_guard guard(lock);
            if (stopping) return false;
            heap.push(Entry{due, nextSequence++, std::move(task)});
        }
        wake.notify_one();
        return true;
    }

    void run() {
        std::unique_lock guard(lock);
        while (!stopping) {
            if (heap.empty()) {
                wake.wait(guard);
                continue;
            }
            auto due = heap.top().due;
            if (due > std::chrono::steady_clock::now()) {
                wake.wait_until(guard, due);
                continue;
            }
            Task task = std::move(const_cast<Entry&>(heap.top()).task);
            heap.pop();
            guard.unlock();
            task();
            task = nullptr; // release captures before taking the lock again
            guard.lock();
        }
        // Dropping pending tasks here, on the worker, keeps their destructors off other threads' locks.
        decltype(heap) dropped;
        std::swap(dropped, heap);
        guard.unlock();
    }
};

namespace {

class ThreadTimer final : public Timer {
public:
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    ~ThreadTimer() override { cancel(); }
    void cancel() override { *cancelled = true; }
    bool isCancelled() const override { return *cancelled; }
};

// Firings keep to the timer's own schedule (first due + n × period), so the time a worker takes to wake
// and run the handler never adds up: a 10 ms timer fires 100 times a second, as a hardware clock would
// pace it. Firings missed while the queue was busy are merged into the next one.
void scheduleFiring(const std::weak_ptr<ThreadQueue::State>& weakState, SteadyTime due, double period,
                    std::shared_ptr<std::atomic<bool>> cancelled, std::shared_ptr<Queue::Task> handler) {
    auto state = weakState.lock();
    if (!state) return;
    state->scheduleAt(due, [weakState, due, period, cancelled, handler] {
        if (*cancelled) return;
        if (period > 0) {
            const auto step = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(period));
            auto next = due + step;
            const auto now = std::chrono::steady_clock::now();
            if (step.count() > 0 && next <= now) next += ((now - next) / step + 1) * step;
            scheduleFiring(weakState, std::max(next, due + std::chrono::nanoseconds(1)), period, cancelled,
                           handler);
        }
        (*handler)();
    });
}

} // namespace

ThreadQueue::ThreadQueue(std::string label)
    : state(std::make_shared<State>()) {
    state->label = std::move(label);
    std::promise<void> started;
    auto ready = started.get_future();
    // The worker shares the state so that a queue destroyed by one of its own tasks stays valid
    // until the worker has left its loop.
    state->worker = std::thread([s = state, &started] {
        s->workerId = std::this_thread::get_id();
        started.set_value();
        s->run();
    });
    ready.wait();
}

ThreadQueue::~ThreadQueue() {
    stop();
}

const std::string& ThreadQueue::label() const {
    return state->label;
}

void ThreadQueue::async(Task task) {
    state->schedule(0, std::move(task));
}

void ThreadQueue::after(double seconds, Task task) {
    state->schedule(seconds, std::move(task));
}

void ThreadQueue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    runAndWait(task, [this](Task wrapped) { return state->schedule(0, std::move(wrapped)); });
}

std::unique_ptr<Timer> ThreadQueue::timer(double firstDelay, double period, Task handler) {
    auto timer = std::make_unique<ThreadTimer>();
    scheduleFiring(state, State::dueIn(firstDelay), period, timer->cancelled,
                   std::make_shared<Task>(std::move(handler)));
    return timer;
}

bool ThreadQueue::isCurrent() const {
    return std::this_thread::get_id() == state->workerId;
}

void ThreadQueue::stop() {
    {
        std::lock_guard guard(state->lock);
        state->stopping = true;
    }
    state->wake.notify_all();
    if (!state->worker.joinable()) return;
    if (isCurrent()) {
        // A task stopping its own queue: the worker ends after this task; nobody may join it here.
        state->worker.detach();
    } else {
        state->worker.join();
    }
}

} // namespace tandem

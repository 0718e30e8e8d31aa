#pragma once

#include "base/Queue.h"

#include <memory>
#include <string>

namespace tandem {

// A Queue served by one worker thread with a heap of timed tasks.
class ThreadQueue final : public Queue {
public:
    explicit ThreadQueue(std::string label);
    ~ThreadQueue() override;
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    const std::string& label() const override;
    void async(Task task) override;
    void after(double seconds, Task task) override;
    // A task that a stop drops before it ran is run on the caller instead, so sync always returns
    // having run its task exactly once.
    void sync(const Task& task) override;
    std::unique_ptr<Timer> timer(double firstDelay, double period, Task handler) override;
    bool isCurrent() const override;

    // Ends the worker; pending work is dropped. Safe to call twice, and from the queue's own tasks.
    void stop();

    struct State;

private:
    std::shared_ptr<State> state;
};

} // namespace tandem

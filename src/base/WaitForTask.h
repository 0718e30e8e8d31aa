#pragma once

#include "base/Queue.h"

#include <future>
#include <memory>

namespace tandem {

// The blocking half of `Queue::sync` for queues served by another thread: hands `task` to `enqueue`
// (which answers whether the queue took it) and waits. A task the queue drops unrun (the queue
// stopped) runs on the caller instead, so it always runs exactly once and the caller never hangs.
template <class Enqueue> void runAndWait(const Queue::Task& task, Enqueue&& enqueue) {
    auto done = std::make_shared<std::promise<bool>>();
    auto finished = done->get_future();
    // Destroyed unrun (the queue dropped the wrapper), it answers false.
    struct Guard {
        std::shared_ptr<std::promise<bool>> promise;
        ~Guard() {
            if (promise) promise->set_value(false);
        }
    };
    auto guard = std::make_shared<Guard>();
    guard->promise = done;
    const bool queued = enqueue([&task, guard] {
        task();
        guard->promise->set_value(true);
        guard->promise.reset();
    });
    guard.reset();
    if (!queued || !finished.get()) task();
}

} // namespace tandem

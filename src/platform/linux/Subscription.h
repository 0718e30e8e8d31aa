#pragma once

#include "base/Queue.h"

#include <functional>
#include <memory>
#include <mutex>

namespace tandem {

// A handler that an adapter's own thread calls through the caller's queue, until the observation
// ends. `end` returns only once no call is running (a call ending its own observation returns at
// once), and no call starts after it, so an observer's token can be destroyed while notices are on
// their way. A handler must not wait for the thread that destroys its token.
template <class... Args> class Subscription : public std::enable_shared_from_this<Subscription<Args...>> {
public:
    Subscription(std::shared_ptr<Queue> queue, std::function<void(Args...)> handler)
        : queue(std::move(queue))
        , handler(std::move(handler)) {}

    void deliver(Args... args) {
        queue->async([self = this->shared_from_this(), args...] {
            std::lock_guard guard(self->lock);
            if (self->live) self->handler(args...);
        });
    }

    void end() {
        std::lock_guard guard(lock);
        live = false;
    }

private:
    std::shared_ptr<Queue> queue;
    std::function<void(Args...)> handler;
    std::recursive_mutex lock;
    bool live = true;
};

} // namespace tandem

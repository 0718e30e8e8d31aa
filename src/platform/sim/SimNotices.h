#pragma once

#include "base/Queue.h"
#include "platform/Observation.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tandem {

// The observers of one kind of simulated notice, each with the queue it wants them on. A token
// removes its observer when destroyed; a notice already on its way to a removed observer is dropped.
template <class... Args> class SimNotices {
public:
    using Handler = std::function<void(Args...)>;

    ObservationToken add(std::shared_ptr<Queue> queue, Handler handler) {
        auto entry = std::make_shared<Entry>(Entry{std::move(queue), std::move(handler), true});
        std::lock_guard guard(state->lock);
        state->entries.push_back(entry);
        return std::make_unique<Token>(state, entry);
    }

    void post(Args... args) {
        std::vector<std::shared_ptr<Entry>> entries;
        {
            std::lock_guard guard(state->lock);
            entries = state->entries;
        }
        for (auto& entry : entries) {
            entry->queue->async([entry, args...] {
                if (entry->live) entry->handler(args...);
            });
        }
    }

    size_t count() const {
        std::lock_guard guard(state->lock);
        return state->entries.size();
    }

private:
    struct Entry {
        std::shared_ptr<Queue> queue;
        Handler handler;
        bool live;
    };
    struct State {
        mutable std::mutex lock;
        std::vector<std::shared_ptr<Entry>> entries;
    };
    class Token final : public Observation {
    public:
        Token(std::weak_ptr<State> state, std::shared_ptr<Entry> entry)
            : state(std::move(state))
            , entry(std::move(entry)) {}
        ~Token() override {
            entry->live = false;
            if (auto shared = state.lock()) {
                std::lock_guard guard(shared->lock);
                std::erase(shared->entries, entry);
            }
        }

    private:
        std::weak_ptr<State> state;
        std::shared_ptr<Entry> entry;
    };

    std::shared_ptr<State> state = std::make_shared<State>();
};

} // namespace tandem

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace tandem {

// A repeating timer created by a Queue. Destroying it cancels it.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void cancel() = 0;
    virtual bool isCancelled() const = 0;
};

// A serial executor: tasks run one at a time, in time order, then in submission order.
class Queue {
public:
    using Task = std::function<void()>;

    virtual ~Queue() = default;

    virtual const std::string& label() const = 0;
    virtual void async(Task task) = 0;
    virtual void after(double seconds, Task task) = 0;
    // Runs the task on the queue and waits for it; from the queue itself it runs inline.
    virtual void sync(const Task& task) = 0;
    // First fires `firstDelay` seconds from now, then every `period` seconds until cancelled.
    virtual std::unique_ptr<Timer> timer(double firstDelay, double period, Task handler) = 0;
    // True when called from a task running on this queue.
    virtual bool isCurrent() const = 0;

    // sync that hands back the task's value.
    template <class F> auto syncValue(F&& fn) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        if constexpr (std::is_void_v<R>) {
            sync(std::forward<F>(fn));
        } else {
            std::optional<R> result;
            sync([&] { result.emplace(fn()); });
            return std::move(*result);
        }
    }
};

} // namespace tandem

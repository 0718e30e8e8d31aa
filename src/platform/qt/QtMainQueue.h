#pragma once

#include "base/Queue.h"

#include <memory>
#include <string>

namespace tandem {

// The program's main queue: tasks run on the thread of the QCoreApplication, between its events.
//
// Tasks run one at a time, in time order, then in submission order, as on ThreadQueue. `after` is
// never early: timers are precise and the steady clock is read again when one fires (an early timer
// is armed again). A long run of due tasks yields to Qt's own events now and then: each turn takes
// only the tasks already due when it began. A task that spins a nested event loop (a modal dialog)
// holds the queue until it returns, like the Mac's main queue.
//
// Everything on the GUI thread counts as running on this queue: `isCurrent` is true there and `sync`
// runs inline. From any other thread `sync` waits for the task. A task dropped before it ran (the
// queue stopped or destroyed, the application gone) is run by the waiting caller instead, so `sync`
// runs its task exactly once and never hangs on a queue that no longer serves.
//
// Make it on the application's thread while the QCoreApplication exists. It may be destroyed on any
// thread; pending work is then dropped. When the application object goes away the queue stops.
class QtMainQueue final : public Queue {
public:
    explicit QtMainQueue(std::string label);
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    const std::string& label() const override;
    void async(Task task) override;
    void after(double seconds, Task task) override;
    void sync(const Task& task) override;
    std::unique_ptr<Timer> timer(double firstDelay, double period, Task handler) override;
    bool isCurrent() const override;

    // Ends service: pending work is dropped and later work too. Safe to call twice, from any thread.
    void stop();
    // Tasks and timer firings waiting.
    size_t pendingCount() const;

    struct State;

private:
    std::shared_ptr<State> state;
};

} // namespace tandem

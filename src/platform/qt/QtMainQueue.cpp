#include "platform/qt/QtMainQueue.h"

#include "base/WaitForTask.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace tandem {

namespace {

using Steady = std::chrono::steady_clock;

// Far beyond any delay the program asks for (a once-only timer's 1e9 s period included) and still
// well inside the steady clock's range.
constexpr double longestDelay = 4e9;

Steady::time_point dueAfter(Steady::time_point from, double seconds) {
    double wait = std::isfinite(seconds) && seconds > 0 ? std::min(seconds, longestDelay) : 0;
    return from + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(wait));
}

struct Key {
    Steady::time_point due;
    uint64_t sequence;
    bool operator<(const Key& other) const {
        return due != other.due ? due < other.due : sequence < other.sequence;
    }
};

// The Qt objects that serve the queue. They live on the GUI thread; the pointers are shared with the
// thread that destroys the queue and with the application's teardown, hence the lock.
struct Link {
    std::mutex lock;
    QObject* context = nullptr;
    QTimer* timer = nullptr;
};

} // namespace

struct QtMainQueue::State {
    std::string label;
    std::thread::id thread;
    std::weak_ptr<State> self;
    std::shared_ptr<Link> link = std::make_shared<Link>();

    mutable std::mutex lock;
    std::map<Key, Task> pending;
    uint64_t nextSequence = 0;
    bool stopped = false;
    bool wakePosted = false;
    bool running = false; // GUI thread only: a turn is running tasks

    ~State() {
        std::lock_guard guard(link->lock);
        // deleteLater is safe from any thread; the application deletes its child if no loop does.
        if (link->context) link->context->deleteLater();
        link->context = nullptr;
        link->timer = nullptr;
    }

    // Nothing when the queue no longer serves: the task is dropped.
    std::optional<Key> schedule(Steady::time_point due, Task task) {
        std::optional<Key> key;
        {
            std::lock_guard guard(lock);
            if (stopped) return std::nullopt;
            key = Key{due, nextSequence++};
            pending.emplace(*key, std::move(task));
            postWake();
        }
        return key;
    }

    // Tasks leave the queue under the lock and are destroyed outside it, so their captures may
    // schedule or cancel more work as they go.
    void remove(const Key& key) {
        Task dropped;
        std::lock_guard guard(lock);
        if (auto it = pending.find(key); it != pending.end()) {
            dropped = std::move(it->second);
            pending.erase(it);
        }
    }

    void stop() {
        std::map<Key, Task> dropped;
        {
            std::lock_guard guard(lock);
            stopped = true;
            std::swap(dropped, pending);
        }
    }

    // With `lock` held. One wake at a time is enough: a turn takes everything due.
    void postWake() {
        if (wakePosted || stopped) return;
        std::lock_guard guard(link->lock);
        if (!link->context) return;
        wakePosted = true;
        QMetaObject::invokeMethod(
            link->context, [weak = self] { serve(weak); }, Qt::QueuedConnection);
    }

    // GUI thread, after a turn: a wake for work already due, else the timer for the next due time.
    void arm() {
        std::lock_guard guard(lock);
        QTimer* timer = nullptr;
        {
            std::lock_guard linkGuard(link->lock);
            timer = link->timer;
        }
        if (!timer) return;
        if (stopped || pending.empty()) {
            timer->stop();
            return;
        }
        const auto due = pending.begin()->first.due;
        const auto now = Steady::now();
        if (due <= now) {
            timer->stop();
            postWake();
            return;
        }
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
        timer->start(static_cast<int>(std::clamp<decltype(wait)>(wait, 1, INT_MAX)));
    }

    // One turn on the GUI thread: the tasks already due when it began, in order. Work that comes due
    // meanwhile waits for the next turn, so Qt's own events get their turn in between.
    static void serve(const std::weak_ptr<State>& weak) {
        auto state = weak.lock();
        if (!state) return;
        uint64_t limit = 0;
        {
            std::lock_guard guard(state->lock);
            state->wakePosted = false;
            // A nested event loop inside a task: the queue stays with that task; its turn re-arms.
            if (state->running) return;
            limit = state->nextSequence;
        }
        const auto cutoff = Steady::now();
        struct Running {
            State& state;
            explicit Running(State& s)
                : state(s) {
                state.running = true;
            }
            ~Running() {
                state.running = false;
                state.arm();
            }
        } running(*state);
        for (;;) {
            Task task;
            {
                std::lock_guard guard(state->lock);
                if (state->stopped || state->pending.empty()) break;
                auto first = state->pending.begin();
                if (first->first.due > cutoff || first->first.sequence >= limit) break;
                task = std::move(first->second);
                state->pending.erase(first);
            }
            task();
        }
    }
};

namespace {

// A repeating timer's shared part. Lock order: a slot's lock before the queue's.
struct TimerSlot {
    std::mutex lock;
    std::shared_ptr<Queue::Task> handler;
    double period = 0;
    bool cancelled = false;
    std::optional<Key> pendingKey; // the firing waiting in the queue
};

class MainTimer final : public Timer {
public:
    MainTimer(std::shared_ptr<TimerSlot> slot, std::weak_ptr<QtMainQueue::State> state)
        : slot(std::move(slot))
        , state(std::move(state)) {}
    ~MainTimer() override { cancel(); }

    void cancel() override {
        std::shared_ptr<Queue::Task> handler;
        std::lock_guard guard(slot->lock);
        slot->cancelled = true;
        handler = std::move(slot->handler); // a running handler keeps its own reference
        if (auto key = std::exchange(slot->pendingKey, std::nullopt)) {
            if (auto queue = state.lock()) queue->remove(*key);
        }
    }

    bool isCancelled() const override {
        std::lock_guard guard(slot->lock);
        return slot->cancelled;
    }

private:
    std::shared_ptr<TimerSlot> slot;
    std::weak_ptr<QtMainQueue::State> state;
};

// Schedules the firing due at `due`; with the slot's lock held.
void scheduleFiring(const std::shared_ptr<TimerSlot>& slot, const std::shared_ptr<QtMainQueue::State>& state,
                    Steady::time_point due) {
    std::weak_ptr<QtMainQueue::State> weak = state;
    slot->pendingKey = state->schedule(due, [slot, weak, due] {
        std::shared_ptr<Queue::Task> handler;
        {
            std::lock_guard guard(slot->lock);
            if (slot->cancelled) return;
            slot->pendingKey.reset();
            handler = slot->handler;
            auto queue = weak.lock();
            // The next firing counts from this one's due time, so the timer does not drift; after a
            // stall it fires once at once rather than a burst to catch up.
            if (queue && slot->period > 0)
                scheduleFiring(slot, queue, std::max(dueAfter(due, slot->period), Steady::now()));
        }
        if (handler) (*handler)();
    });
}

} // namespace

QtMainQueue::QtMainQueue(std::string label)
    : state(std::make_shared<State>()) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) throw std::logic_error("QtMainQueue needs a QCoreApplication");
    if (QThread::currentThread() != application->thread())
        throw std::logic_error("QtMainQueue is made on the application's thread");
    state->self = state;
    state->label = std::move(label);
    state->thread = std::this_thread::get_id();

    auto* context = new QObject(application);
    auto* timer = new QTimer(context);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    std::weak_ptr<State> weak = state;
    QObject::connect(timer, &QTimer::timeout, context, [weak] { State::serve(weak); });
    // The application going away takes the context with it: the queue stops serving.
    QObject::connect(context, &QObject::destroyed, [link = state->link, weak] {
        {
            std::lock_guard guard(link->lock);
            link->context = nullptr;
            link->timer = nullptr;
        }
        if (auto alive = weak.lock()) alive->stop();
    });
    std::lock_guard guard(state->link->lock);
    state->link->context = context;
    state->link->timer = timer;
}

QtMainQueue::~QtMainQueue() {
    state->stop();
}

const std::string& QtMainQueue::label() const {
    return state->label;
}

void QtMainQueue::async(Task task) {
    state->schedule(Steady::now(), std::move(task));
}

void QtMainQueue::after(double seconds, Task task) {
    state->schedule(dueAfter(Steady::now(), seconds), std::move(task));
}

void QtMainQueue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    runAndWait(task, [this](Task wrapped) { return state->schedule(Steady::now(), std::move(wrapped)).has_value(); });
}

std::unique_ptr<Timer> QtMainQueue::timer(double firstDelay, double period, Task handler) {
    auto slot = std::make_shared<TimerSlot>();
    slot->handler = std::make_shared<Task>(std::move(handler));
    slot->period = std::isfinite(period) ? period : 0;
    {
        std::lock_guard guard(slot->lock);
        scheduleFiring(slot, state, dueAfter(Steady::now(), firstDelay));
    }
    return std::make_unique<MainTimer>(slot, state);
}

bool QtMainQueue::isCurrent() const {
    return std::this_thread::get_id() == state->thread;
}

void QtMainQueue::stop() {
    state->stop();
}

size_t QtMainQueue::pendingCount() const {
    std::lock_guard guard(state->lock);
    return state->pending.size();
}

} // namespace tandem

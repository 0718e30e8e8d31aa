#include "platform/linux/LinuxPower.h"

#include <ctime>

namespace tandem {

namespace {

double seconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

class PowerWatch final : public Observation {
public:
    explicit PowerWatch(std::unique_ptr<Timer> timer)
        : timer(std::move(timer)) {}
    ~PowerWatch() override { timer->cancel(); }

private:
    std::unique_ptr<Timer> timer;
};

} // namespace

double LinuxPower::suspendedSeconds() {
    // Read in this order so that a second passing between the reads cannot look like a sleep.
    double monotonic = seconds(CLOCK_MONOTONIC);
    return seconds(CLOCK_BOOTTIME) - monotonic;
}

ObservationToken LinuxPower::observe(std::shared_ptr<Queue> queue,
                                     std::function<void(const PowerMessage&)> handler) {
    auto last = std::make_shared<double>(suspendedSeconds());
    auto notification = std::make_shared<intptr_t>(0);
    return std::make_unique<PowerWatch>(queue->timer(1, 1, [last, notification, handler] {
        double now = suspendedSeconds();
        bool woke = now - *last > wakeThreshold;
        *last = now;
        if (woke) handler({PowerMessage::Kind::hasPoweredOn, ++*notification});
    }));
}

} // namespace tandem

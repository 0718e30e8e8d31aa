#pragma once

#include <chrono>
#include <cstdint>

namespace tandem {

// Every reading of time goes through a Clock so that tests can run on a virtual timeline.
class Clock {
public:
    virtual ~Clock() = default;

    // Monotonic seconds since an arbitrary origin (system uptime).
    virtual double uptime() const = 0;
    // Wall-clock date.
    virtual std::chrono::system_clock::time_point date() const = 0;
    // Host clock ticks, as MIDI time stamps carry them.
    virtual uint64_t hostTime() const = 0;
    // Seconds per host clock tick.
    virtual double hostTimeScale() const = 0;
    // Blocks the calling thread (or, on a virtual timeline, moves time on).
    virtual void sleep(double seconds) = 0;
};

// The machine's own clocks; host time is in nanoseconds.
class SystemClock final : public Clock {
public:
    double uptime() const override;
    std::chrono::system_clock::time_point date() const override;
    uint64_t hostTime() const override;
    double hostTimeScale() const override { return 1e-9; }
    void sleep(double seconds) override;

    static SystemClock& shared();
};

} // namespace tandem

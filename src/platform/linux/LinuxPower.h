#pragma once

#include "platform/Power.h"

namespace tandem {

// Power messages on Linux: only wakes, seen as CLOCK_BOOTTIME (which counts suspended time) running
// ahead of CLOCK_MONOTONIC (which does not) between two looks a second apart. Linux asks nobody before
// sleeping, so there is nothing to allow.
class LinuxPower final : public Power {
public:
    ObservationToken observe(std::shared_ptr<Queue> queue,
                             std::function<void(const PowerMessage&)> handler) override;
    void allowPowerChange(intptr_t) override {}

    // Seconds spent suspended since boot.
    static double suspendedSeconds();
    // A gap of more than this between the two clocks is a sleep.
    static constexpr double wakeThreshold = 1.0;
};

} // namespace tandem

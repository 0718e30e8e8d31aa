#pragma once

#include "base/Queue.h"
#include "platform/Observation.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace tandem {

// A system power message (IORegisterForSystemPower).
struct PowerMessage {
    enum class Kind {
        canSleep,     // kIOMessageCanSystemSleep: a question, to be allowed
        willSleep,    // kIOMessageSystemWillSleep: to be allowed before the system sleeps
        hasPoweredOn, // kIOMessageSystemHasPoweredOn: the system woke
        other,
    };
    Kind kind = Kind::other;
    intptr_t notification = 0; // what allowPowerChange takes
};

class Power {
public:
    virtual ~Power() = default;
    // Power messages on `queue` until the token is destroyed.
    virtual ObservationToken observe(std::shared_ptr<Queue> queue,
                                     std::function<void(const PowerMessage&)> handler) = 0;
    // Lets a sleep that was asked about or announced go ahead (IOAllowPowerChange).
    virtual void allowPowerChange(intptr_t notification) = 0;
};

} // namespace tandem

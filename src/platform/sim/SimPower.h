#pragma once

#include "platform/Power.h"
#include "platform/sim/SimNotices.h"

#include <mutex>
#include <vector>

namespace tandem {

// System power messages sent by a test; the changes let go ahead are recorded.
class SimPower final : public Power {
public:
    // Announces a message and gives its notification number.
    intptr_t send(PowerMessage::Kind kind);
    std::vector<intptr_t> allowed();

    ObservationToken observe(std::shared_ptr<Queue> queue,
                             std::function<void(const PowerMessage&)> handler) override;
    void allowPowerChange(intptr_t notification) override;

private:
    std::mutex lock;
    intptr_t next = 1;
    std::vector<intptr_t> allowedChanges;
    SimNotices<PowerMessage> notices;
};

} // namespace tandem

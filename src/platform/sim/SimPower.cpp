#include "platform/sim/SimPower.h"

namespace tandem {

intptr_t SimPower::send(PowerMessage::Kind kind) {
    intptr_t notification;
    {
        std::lock_guard guard(lock);
        notification = next++;
    }
    notices.post({kind, notification});
    return notification;
}

std::vector<intptr_t> SimPower::allowed() {
    std::lock_guard guard(lock);
    return allowedChanges;
}

ObservationToken SimPower::observe(std::shared_ptr<Queue> queue,
                                   std::function<void(const PowerMessage&)> handler) {
    return notices.add(std::move(queue),
                       [handler = std::move(handler)](PowerMessage message) { handler(message); });
}

void SimPower::allowPowerChange(intptr_t notification) {
    std::lock_guard guard(lock);
    allowedChanges.push_back(notification);
}

} // namespace tandem

#include "platform/sim/SimHid.h"

namespace tandem {

int SimHid::add(HidDevice device) {
    std::lock_guard guard(lock);
    list.emplace_back(nextHandle, std::move(device));
    return nextHandle++;
}

bool SimHid::remove(int handle) {
    std::lock_guard guard(lock);
    return std::erase_if(list, [&](const auto& entry) { return entry.first == handle; }) > 0;
}

std::vector<HidDevice> SimHid::devices(int64_t vendor) {
    std::lock_guard guard(lock);
    std::vector<HidDevice> found;
    for (const auto& [handle, device] : list) {
        if (device.vendorID == vendor) found.push_back(device);
    }
    return found;
}

} // namespace tandem

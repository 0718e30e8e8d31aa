#include "platform/sim/SimDisplays.h"

namespace tandem {

SimDisplays::SimDisplays() {
    list.push_back(builtIn());
}

DisplayInfo SimDisplays::builtIn() {
    return {1, {0, 0, 1440, 900}, true, true, true, 0x610, 0xa050};
}

void SimDisplays::add(DisplayInfo display) {
    std::lock_guard guard(lock);
    std::erase_if(list, [&](const DisplayInfo& other) { return other.id == display.id; });
    list.push_back(display);
}

bool SimDisplays::remove(uint32_t id) {
    std::lock_guard guard(lock);
    return std::erase_if(list, [&](const DisplayInfo& display) { return display.id == id; }) > 0;
}

bool SimDisplays::setActive(uint32_t id, bool active) {
    std::lock_guard guard(lock);
    for (DisplayInfo& display : list) {
        if (display.id != id) continue;
        display.active = active;
        return true;
    }
    return false;
}

std::vector<DisplayInfo> SimDisplays::displays() {
    std::lock_guard guard(lock);
    return list;
}

} // namespace tandem

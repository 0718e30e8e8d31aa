#include "platform/sim/SimWindowServer.h"

#include <algorithm>

namespace tandem {

uint32_t SimWindowServer::add(int32_t owner, Rect bounds, int layer) {
    std::lock_guard guard(lock);
    uint32_t number = nextNumber++;
    windows.insert(windows.begin(), WindowInfo{owner, layer, bounds, number});
    return number;
}

void SimWindowServer::setBounds(uint32_t number, Rect bounds) {
    std::lock_guard guard(lock);
    for (auto& window : windows) {
        if (window.number == number) window.bounds = bounds;
    }
}

std::optional<Rect> SimWindowServer::bounds(uint32_t number) {
    std::lock_guard guard(lock);
    for (auto& window : windows) {
        if (window.number == number) return window.bounds;
    }
    return std::nullopt;
}

void SimWindowServer::remove(uint32_t number) {
    std::lock_guard guard(lock);
    std::erase_if(windows, [&](const WindowInfo& window) { return window.number == number; });
}

void SimWindowServer::removeAll(int32_t owner) {
    std::lock_guard guard(lock);
    std::erase_if(windows, [&](const WindowInfo& window) { return window.ownerProcessIdentifier == owner; });
}

void SimWindowServer::bringToFront(int32_t owner) {
    std::lock_guard guard(lock);
    std::stable_partition(windows.begin(), windows.end(),
                          [&](const WindowInfo& window) { return window.ownerProcessIdentifier == owner; });
}

void SimWindowServer::addRaw(const WindowInfo& info) {
    std::lock_guard guard(lock);
    windows.insert(windows.begin(), info);
}

std::vector<WindowInfo> SimWindowServer::onScreenWindows() {
    std::lock_guard guard(lock);
    return windows;
}

} // namespace tandem

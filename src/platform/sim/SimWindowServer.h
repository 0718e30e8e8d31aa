#pragma once

#include "platform/WindowServer.h"

#include <mutex>

namespace tandem {

// The simulated window list, front to back. Simulated applications add, move and remove their
// windows; a test may add strangers.
class SimWindowServer final : public WindowServer {
public:
    // Adds a window in front of all others and returns its number.
    uint32_t add(int32_t owner, Rect bounds, int layer = 0);
    void setBounds(uint32_t number, Rect bounds);
    std::optional<Rect> bounds(uint32_t number);
    void remove(uint32_t number);
    void removeAll(int32_t owner);
    // Brings every window of the owner in front, keeping their order.
    void bringToFront(int32_t owner);
    // A raw entry, any value missing (as a misbehaving window server might list it).
    void addRaw(const WindowInfo& info);

    std::vector<WindowInfo> onScreenWindows() override;

private:
    std::mutex lock;
    std::vector<WindowInfo> windows; // front first
    uint32_t nextNumber = 100;
};

} // namespace tandem

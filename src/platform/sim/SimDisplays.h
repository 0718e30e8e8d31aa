#pragma once

#include "platform/Displays.h"

#include <mutex>

namespace tandem {

// Core Graphics' display list, simulated: the Mac's built-in display is always there; tests and
// simulated peers add and remove others.
class SimDisplays final : public Displays {
public:
    SimDisplays();

    // The built-in display: id 1, 1440 × 900 at the origin, main.
    static DisplayInfo builtIn();

    void add(DisplayInfo display);
    bool remove(uint32_t id);
    // Online but not drawn (mirrored or asleep), or back.
    bool setActive(uint32_t id, bool active);

    std::vector<DisplayInfo> displays() override;

private:
    std::mutex lock;
    std::vector<DisplayInfo> list;
};

} // namespace tandem

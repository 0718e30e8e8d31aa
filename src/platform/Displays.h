#pragma once

#include "platform/Geometry.h"

#include <cstdint>
#include <vector>

namespace tandem {

// One display of Core Graphics' display list (not the window system's screens): what
// CGDisplayBounds, CGDisplayIsMain and the vendor and model numbers say of it.
struct DisplayInfo {
    uint32_t id = 0;
    Rect bounds; // global display coordinates: origin at the main display's top-left, y down
    bool main = false;
    bool online = false; // connected (CGGetOnlineDisplayList)
    bool active = false; // drawable (CGGetActiveDisplayList)
    uint32_t vendorNumber = 0;
    uint32_t modelNumber = 0;
    bool operator==(const DisplayInfo&) const = default;
};

class Displays {
public:
    virtual ~Displays() = default;
    // Every display that is online or active, in the system's order; none without displays.
    virtual std::vector<DisplayInfo> displays() = 0;
};

} // namespace tandem
